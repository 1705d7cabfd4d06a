#pragma once

#include <QObject>
#include <QProcess>
#include <QSet>
#include <QStringList>

// Starts every ffmpeg run of the window: the program by name, found on the search path, with an
// argument list (never a command string to be split), standard input writable for the quit key.
// The caller keeps its own process objects and their finished() connections.
class FfmpegRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FfmpegRunner)

public:
    explicit FfmpegRunner(QObject *parent = nullptr);

    static QString programName();

    void start(QProcess *process, const QStringList &arguments);

    // A run that ended by itself with exit code 0.
    static bool succeeded(const QProcess *process);

    // Ends a run so that none of its signals reach anyone; its finished() never arrives.
    static void stopQuietly(QProcess *process);

signals:
    // The program could not be started; no finished() follows. Always delivered after start()
    // has returned, so the caller's step is complete when it arrives.
    void failedToStart(QProcess *process);

private:
    void watch(QProcess *process);

    QSet<QProcess *> watched;
};
