#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class Recorder;

// The recorder in the tool strip: the input device box, the live text toggle ("实时转写"), the
// record toggle and its clock. It owns the Recorder; where a finished recording and its live
// samples go is its owner's business.
class RecorderBar final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(RecorderBar)

public:
    // The box and the toggle go into the strip, the clock beside it into clockParent.
    RecorderBar(QWidget *strip, QWidget *clockParent);

    // Where recordings go, and which names are taken there besides existing files.
    void setTarget(const QString &folder, std::function<bool(const QString &path)> taken);
    // Replaces the platform's capture input (machines without a microphone).
    void setCaptureInputOverride(const QStringList &args);
    // Fills the device box with the system's input devices.
    void getAudioDev();

    bool isRecording() const;
    // Whether the recording under way hands out its samples (started with "实时转写" on).
    bool isLive() const { return liveRecording; }
    // "实时转写" can be chosen (not while a job holds the transcript pane).
    void setLiveEnabled(bool enabled);
    // The file the last recording went to.
    const QString &file() const { return recordFile; }
    // Ends a recording without reporting it (the window is closing); the file stays playable.
    void endQuietly();

signals:
    // A recording began into path; live: its samples follow as they are captured.
    void started(const QString &path, bool live);
    void samples(const QByteArray &pcm);
    // A recording was stopped and its file written.
    void recorded(const QString &path);
    // A recording ended without a file to report (ffmpeg failed, or nothing was written).
    void abandoned();

private:
    void slotBeginRecord(bool checked);
    void finishRecording();
    void recordingFailed(const QString &message);
    void sltSetRecordTime();
    void showIdle();

    Recorder *recorder = nullptr;
    QComboBox *deviceCombo = nullptr;
    QCheckBox *liveToggle = nullptr;
    QPushButton *recordButton = nullptr;
    QLabel *recordTimeLabel = nullptr;
    QTimer *recordTimer = nullptr;
    QString audioDevice;
    QString recordFile;
    qint64 recordStartTime = 0;
    bool liveRecording = false;
    bool liveAllowed = true;
    QString folder;
    std::function<bool(const QString &)> nameTaken;
};
