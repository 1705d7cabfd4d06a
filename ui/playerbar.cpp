#include "ui/playerbar.h"

#include "audio/audiotexts.h"
#include "ui/barbuttons.h"
#include "ui/logging.h"
#include "ui/styles.h"

#include <phonon/SeekSlider>

#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <memory>

using BarButtons::makeImageButton;

PlayerBar::PlayerBar(QWidget *strip)
    : QObject(strip)
{
    QPushButton *backwardButton = makeImageButton(
        strip, QStringLiteral("快退"), QStringLiteral("backward"), QRect(315, 17, 20, 16));
    backwardButton->setObjectName(QStringLiteral("backwardButton"));
    backwardButton->hide();
    connect(backwardButton, &QPushButton::clicked, this, &PlayerBar::slotBackward);

    playButton = makeImageButton(
        strip, QStringLiteral("播放"), QStringLiteral("play"), QRect(315, 7, 36, 36));
    playButton->setObjectName(QStringLiteral("playButton"));
    connect(playButton, &QPushButton::clicked, this, &PlayerBar::playClicked);

    pauseButton = makeImageButton(
        strip, QStringLiteral("暂停"), QStringLiteral("pause"), QRect(315, 7, 36, 36));
    pauseButton->setObjectName(QStringLiteral("pauseButton"));
    pauseButton->hide();
    connect(pauseButton, &QPushButton::clicked, this, &PlayerBar::slotPause);

    QPushButton *stopButton = makeImageButton(
        strip, QStringLiteral("停止"), QStringLiteral("stop"), QRect(363, 13, 24, 24));
    stopButton->setObjectName(QStringLiteral("stopButton"));
    connect(stopButton, &QPushButton::clicked, this, &PlayerBar::slotForward);

    auto *seekSlider = new Phonon::SeekSlider(strip);
    seekSlider->setMediaObject(&mediaObject);
    seekSlider->setOrientation(Qt::Horizontal);
    seekSlider->setGeometry(403, 18, 271, 16);
    seekSlider->setStyleSheet(Styles::sheet(QStringLiteral("seek-slider")));

    playTimeLabel = new QLabel(strip);
    playTimeLabel->setObjectName(QStringLiteral("playTimeLabel"));
    playTimeLabel->setGeometry(680, 12, 140, 26);
    playTimeLabel->setText(QStringLiteral("00:00:00 / 00:00:00"));
    playTimeLabel->setStyleSheet(Styles::sheet(QStringLiteral("play-clock")));

    mediaObject.setObjectName(QStringLiteral("player"));
    audioPath = Phonon::createPath(&mediaObject, &audioOutput);
    connect(
        &mediaObject, &Phonon::MediaObject::totalTimeChanged, this, &PlayerBar::updateCurrentTime);
    connect(&mediaObject, &Phonon::MediaObject::tick, this, &PlayerBar::updateCurrentTime);
    // Often enough for the text to follow the voice.
    mediaObject.setTickInterval(100);
    connect(&mediaObject, &Phonon::MediaObject::tick, this, &PlayerBar::positionChanged);
    connect(&mediaObject, &Phonon::MediaObject::finished, this, &PlayerBar::playend);
    // The player shows nothing when a file cannot be played; the log says why.
    connect(&mediaObject, &Phonon::MediaObject::stateChanged, this, [this](Phonon::State state) {
        if (state == Phonon::ErrorState)
            qCWarning(lcUi).noquote() << "cannot play" << mediaObject.currentSource().fileName()
                                      << ":" << mediaObject.errorString();
    });
}

void PlayerBar::showPlaying(bool playing)
{
    playButton->setVisible(!playing);
    pauseButton->setVisible(playing);
}

void PlayerBar::slotAudioChanged(const QString &text)
{
    // The box shows file names and playingFile is a path, so in practice any change stops.
    if (text == playingFile)
        return;
    isPlaying = false;
    if (playButton->isHidden())
        showPlaying(false);
    mediaObject.stop();
}

void PlayerBar::play(const QString &chosen)
{
    if (isPlaying) {
        if (mediaObject.currentTime() == mediaObject.totalTime())
            mediaObject.seek(0);
        mediaObject.play();
    } else {
        if (!chosen.isEmpty())
            playingFile = chosen;
        if (!playingFile.isEmpty())
            mediaObject.setCurrentSource(Phonon::MediaSource(QUrl::fromLocalFile(playingFile)));
        mediaObject.play();
        isPlaying = true;
    }
    showPlaying(true);
}

void PlayerBar::playFrom(const QString &file, qint64 startMs)
{
    playingFile = file;
    mediaObject.setCurrentSource(Phonon::MediaSource(QUrl::fromLocalFile(playingFile)));
    // A seek before the media is loaded goes nowhere: it waits for playing to begin.
    auto seekOnce = std::make_shared<QMetaObject::Connection>();
    *seekOnce = connect(&mediaObject, &Phonon::MediaObject::stateChanged, this,
        [this, seekOnce, startMs](Phonon::State state) {
            if (state != Phonon::PlayingState)
                return;
            disconnect(*seekOnce);
            mediaObject.seek(startMs);
        });
    mediaObject.play();
    isPlaying = true;
    showPlaying(true);
}

void PlayerBar::seek(qint64 ms, bool andPlay)
{
    ms = std::max<qint64>(0, ms);
    // Stopped, the media has no position to move: it is played again from there.
    if (mediaObject.state() != Phonon::PlayingState && mediaObject.state() != Phonon::PausedState) {
        playFrom(playingFile, ms);
        return;
    }
    mediaObject.seek(ms);
    if (andPlay && mediaObject.state() != Phonon::PlayingState) {
        mediaObject.play();
        showPlaying(true);
    }
    updateCurrentTime();
    emit positionChanged(ms);
}

void PlayerBar::slotForward()
{
    mediaObject.stop();
    showPlaying(false);
}

void PlayerBar::slotBackward()
{
    mediaObject.seek(0);
}

void PlayerBar::slotPause()
{
    showPlaying(false);
    if (mediaObject.state() == Phonon::PlayingState)
        mediaObject.pause();
}

void PlayerBar::updateCurrentTime()
{
    playTimeLabel->setText(
        AudioTexts::playPositionText(mediaObject.currentTime(), mediaObject.totalTime()));
}

void PlayerBar::playend()
{
    showPlaying(false);
    isPlaying = false;
    mediaObject.stop();
}
