#pragma once

#include "asr/servicesettings.h"
#include "cli/cliarguments.h"
#include "core/timedtext.h"

#include <QObject>
#include <QStringList>

#include <cstdio>

class LiveTranscriber;
class Recorder;
class SpeechServiceStarter;

// tovarin-transcribe --live: records a capture device as the window's recorder does, prints
// each utterance's text with its time as it comes, and once the recording ends (a signal, or
// the device went away) waits for the texts still on their way and writes the recording's
// transcripts in every format asked for, as a file job would.
class LiveRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LiveRunner)

public:
    LiveRunner(const CliOptions &options, const QString &clientId, std::FILE *out, std::FILE *err,
        QObject *parent = nullptr);
    ~LiveRunner() override;

    void setService(const ServiceSettings &chosen, const QString &secret,
        SpeechServiceStarter *starter = nullptr);
    void setTerms(const UserTerms &list) { terms = list; }
    // The ffmpeg input options that stand for the device (a machine without a microphone).
    void setCaptureInputOverride(const QStringList &args);

    void start();
    // SIGINT or SIGTERM: the recording ends and the texts on their way are waited for; a
    // second one writes what has come at once.
    void interrupt(int signalNumber);

    // Where the recording goes; empty before start().
    const QString &recordingFile() const { return recording; }

signals:
    // 0 written, 1 the recording or a transcript could not be written.
    void finished(int exitStatus);

private:
    void endRecording();
    void writeAll();
    void say(std::FILE *stream, const QString &line);
    QString folder() const;

    CliOptions options;
    QString clientId;
    std::FILE *out;
    std::FILE *err;
    ServiceSettings service;
    QString secret;
    UserTerms terms;
    SpeechServiceStarter *starter = nullptr;
    Recorder *recorder = nullptr;
    LiveTranscriber *live = nullptr;
    QString recording;
    QStringList texts;
    TimedUtterances utterances;
    bool ending = false;
    bool done = false;
};
