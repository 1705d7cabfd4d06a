#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class FfmpegRunner;
class QProcess;

// A recording through ffmpeg into a new file of the recording folder. Its process is its own;
// a recording is always ended as the quit key ends it, so the file stays playable.
class Recorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Recorder)

public:
    explicit Recorder(QObject *parent = nullptr);
    // Finishes a recording still under way.
    ~Recorder() override;

    QProcess *process() const { return recording; }
    // Replaces the platform's capture input (machines without a microphone).
    void setCaptureInputOverride(const QStringList &args) { captureOverride = args; }
    // The next recordings also hand out their audio as it is captured (samples()).
    void setLiveSamples(bool on) { live = on; }

    // Starts recording the device into a free name of folder; returns that file's path.
    QString start(const QString &folder, const QString &device,
        const std::function<bool(const QString &path)> &isTaken);
    bool isRecording() const;
    // Lets ffmpeg finish the file; true when the file exists afterwards.
    bool finish();

signals:
    // ffmpeg could not be started; message is the notice for the user.
    void failed(const QString &message);
    // Raw 16 kHz mono 16-bit samples as they are captured, while live samples are on; the last
    // ones come before finish() returns.
    void samples(const QByteArray &pcm);

private:
    QProcess *recording = nullptr;
    FfmpegRunner *runner = nullptr;
    QStringList captureOverride;
    QString file;
    bool live = false;
};
