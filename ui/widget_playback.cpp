#include "ui/widget.h"

#include "core/tasklist.h"

#include "audio/audiotexts.h"
#include "ui/dialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QUrl>

void Widget::slotAudioChanged(QString text)
{
    // The box shows file names and playingFile is a path, so in practice any change stops.
    if (text == playingFile)
        return;
    isPlaying = false;
    if (playButton->isHidden()) {
        playButton->show();
        pauseButton->hide();
    }
    mediaObject.stop();
}

void Widget::slotPlay()
{
    if (taskFiles->isEmpty()) {
        Dialogs::current().information(
            this, QStringLiteral("提示"), QStringLiteral("无可播放的音频文件！"));
        return;
    }
    if (isPlaying) {
        if (mediaObject.currentTime() == mediaObject.totalTime())
            mediaObject.seek(0);
        mediaObject.play();
    } else {
        // The box's current entry; the front file when the box has none chosen.
        const int row = taskFileCombo->currentIndex();
        const QString chosen = row >= 0 ? taskFiles->pathAt(row) : taskFiles->front();
        if (!chosen.isEmpty())
            playingFile = chosen;
        if (!playingFile.isEmpty())
            mediaObject.setCurrentSource(Phonon::MediaSource(QUrl::fromLocalFile(playingFile)));
        mediaObject.play();
        isPlaying = true;
    }
    playButton->hide();
    pauseButton->show();
}

void Widget::slotForward()
{
    mediaObject.stop();
    playButton->show();
    pauseButton->hide();
}

void Widget::slotBackward()
{
    mediaObject.seek(0);
}

void Widget::slotPause()
{
    playButton->show();
    pauseButton->hide();
    if (mediaObject.state() == Phonon::PlayingState)
        mediaObject.pause();
}

void Widget::updateCurrentTime()
{
    playTimeLabel->setText(
        AudioTexts::playPositionText(mediaObject.currentTime(), mediaObject.totalTime()));
}

void Widget::playend()
{
    pauseButton->hide();
    playButton->show();
    isPlaying = false;
    mediaObject.stop();
}
