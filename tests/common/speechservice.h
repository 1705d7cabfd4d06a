#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "common/testtime.h"

// The real local speech service, started on a free loopback port for one test.
class SpeechServiceProcess
{
public:
    explicit SpeechServiceProcess(const QStringList &extraArguments = {})
        : arguments(extraArguments)
    { }
    ~SpeechServiceProcess() { stop(); }

    static QString program() { return QStringLiteral(TOV_BINARY_DIR "/service/speech-service"); }

    // Starts the service and waits until it serves recognitions (or, with
    // `untilReady` false, only until it listens while still loading its
    // models); false when it does not.
    bool start(int port = 0, int timeoutMs = 60000, bool untilReady = true)
    {
        process.setProgram(program());
        process.setArguments(
            QStringList { QStringLiteral("--port"), QString::number(port) } + arguments);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        if (!process.waitForStarted(5000)) {
            log += process.errorString();
            return false;
        }
        const QRegularExpression ready(untilReady
                ? QStringLiteral("listening on ([^\\s:]+):(\\d+)")
                : QStringLiteral("(?:listening|/health) on ([^\\s:]+):(\\d+)"));
        // A restart reads only what this run says.
        const int runStart = log.size();
        QElapsedTimer clock;
        clock.start();
        // Loading the models takes several times as long in an instrumented build.
        while (clock.elapsed() < scaledMs(timeoutMs) && process.state() == QProcess::Running) {
            process.waitForReadyRead(200);
            log += QString::fromUtf8(process.readAllStandardError());
            const QRegularExpressionMatch match = ready.match(log, runStart);
            if (match.hasMatch()) {
                listenPort = match.captured(2).toInt();
                return true;
            }
        }
        // What it said before it ended is the reason it did not start.
        process.waitForFinished(1000);
        log += QString::fromUtf8(process.readAllStandardError());
        log += QStringLiteral("\n(exit status %1, code %2)")
                   .arg(int(process.exitStatus()))
                   .arg(process.exitCode());
        return false;
    }

    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    // SIGTERM without waiting for the end.
    void signalStop() { process.terminate(); }
    // The exit code once the process ended by itself, -1 when it did not in time.
    int waitForExit(int timeoutMs)
    {
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    void kill()
    {
        process.kill();
        process.waitForFinished(5000);
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(listenPort); }
    int port() const { return listenPort; }
    qint64 pid() const { return process.processId(); }
    // Everything the service wrote to its log so far.
    QString logText()
    {
        log += QString::fromUtf8(process.readAllStandardError());
        return log;
    }
    // What the service wrote since the last call, not kept: a long run's log would grow.
    QString takeNewLog()
    {
        const QString text = log + QString::fromUtf8(process.readAllStandardError());
        log.clear();
        return text;
    }

private:
    QStringList arguments;
    QProcess process;
    QString log;
    int listenPort = 0;
};

// Synthetic English speech: flite's "slt" voice, made 16 kHz mono 16-bit by ffmpeg.
inline bool makeSpeechWav(const QString &textFile, const QString &wavPath)
{
    const QString raw = wavPath + QStringLiteral(".flite.wav");
    if (QProcess::execute(QStringLiteral("flite"),
            { QStringLiteral("-voice"), QStringLiteral("slt"), QStringLiteral("-f"), textFile,
                QStringLiteral("-o"), raw })
        != 0)
        return false;
    const int rc = QProcess::execute(QStringLiteral("ffmpeg"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"),
            raw, QStringLiteral("-ar"), QStringLiteral("16000"), QStringLiteral("-ac"),
            QStringLiteral("1"), wavPath });
    QFile::remove(raw);
    return rc == 0;
}
