#pragma once

#include <QObject>
#include <QString>

#include <phonon/AudioOutput>
#include <phonon/MediaObject>
#include <phonon/Path>

class QLabel;
class QPushButton;
class QWidget;

// The player in the tool strip: play, pause, stop, back to the start, the position slider and
// the time of the file it plays. Which file to play is its owner's choice.
class PlayerBar final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(PlayerBar)

public:
    // Builds its controls in the strip, at the strip's fixed places.
    explicit PlayerBar(QWidget *strip);

    // Resumes the loaded file, or loads chosen (empty: the source as it was) and plays it.
    void play(const QString &chosen);
    // Plays file from startMs on (a line of a transcript with times).
    void playFrom(const QString &file, qint64 startMs);
    // The chosen entry changed: a file that was playing stops and is no longer resumed.
    void slotAudioChanged(const QString &text);

    // The file "播放" resumes; empty or stale when it loads the chosen entry afresh.
    const QString &file() const { return playingFile; }
    // Whether "播放" resumes file() rather than loading the chosen entry.
    bool loaded() const { return isPlaying; }
    bool playing() const { return mediaObject.state() == Phonon::PlayingState; }
    qint64 position() const { return mediaObject.currentTime(); }
    // Within the loaded file: moves there, and plays unless told not to; pause() as the pause
    // button.
    void seek(qint64 ms, bool andPlay = true);
    void pause() { slotPause(); }

signals:
    void playClicked();
    // The position moved while playing (a tick) or by a seek.
    void positionChanged(qint64 ms);

private:
    void slotPause();
    // The stop button: stops playback (the file stays loaded).
    void slotForward();
    // The back button: to the start of the file.
    void slotBackward();
    void updateCurrentTime();
    void playend();
    void showPlaying(bool playing);

    // A child, so that the window's tests find the player by its name.
    Phonon::MediaObject mediaObject { this };
    Phonon::AudioOutput audioOutput;
    Phonon::Path audioPath;
    QPushButton *playButton = nullptr;
    QPushButton *pauseButton = nullptr;
    QLabel *playTimeLabel = nullptr;
    QString playingFile;
    bool isPlaying = false;
};
