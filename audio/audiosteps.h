#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "audio/ffmpegargs.h"

class FfmpegRunner;
class QProcess;

// The ffmpeg steps of a job: conversion to 16 kHz mono WAV, the duration probe and the cuts,
// each on a process of its own that this object owns. Each run ends once: with its result
// signal, with toolMissing(), or silently through stop().
class AudioSteps final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AudioSteps)

public:
    explicit AudioSteps(QObject *parent = nullptr);
    // Ends whatever still runs, without a signal.
    ~AudioSteps() override;

    QProcess *convertProcess() const { return convert; }
    QProcess *probeProcess() const { return probe; }
    QProcess *cutProcess() const { return cut; }

    // fromMs, toMs: only that span of the source (FfmpegArgs::conversion).
    void startConversion(
        const QString &source, const QString &target, qint64 fromMs = 0, qint64 toMs = -1);
    void startProbe(const QString &file);
    // length: seconds of the cut (FfmpegArgs::segmentSeconds unless the job says otherwise).
    void startCut(const QString &file, int startSecond, const QString &segment, bool last,
        int length = FfmpegArgs::segmentSeconds);
    // Ends every run of the three processes, ours or not, and forgets the step.
    void stop();
    bool isBusy() const { return current != Run::None; }
    // The length the last probe found, to the millisecond (durationFound has whole seconds).
    qint64 durationMs() const { return probedMs; }

    // Ends of the runs, connected to the processes. Each does nothing unless its run is the
    // current one.
    void conversionEnded();
    void probeOutputReady();
    void probeEnded();
    void cutEnded();

signals:
    // ok: the target is a WAV file with samples in it.
    void conversionFinished(bool ok);
    void durationFound(int seconds);
    void durationMissing();
    // ok: the segment is a WAV file with samples in it.
    void cutFinished(bool ok);
    // ffmpeg could not be started.
    void toolMissing();

private:
    enum class Run { None, Conversion, Probe, Cut };
    void begin(Run run, QProcess *process, const QStringList &arguments);
    bool finishProbe(bool atEnd);

    QProcess *convert = nullptr;
    QProcess *probe = nullptr;
    QProcess *cut = nullptr;
    FfmpegRunner *runner = nullptr;
    Run current = Run::None;
    QString target;
    QByteArray probeOutput;
    qint64 probedMs = 0;
};
