#pragma once

#include "cli/cliarguments.h"
#include "cli/outputplan.h"
#include "cli/progresstexts.h"
#include "asr/servicesettings.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <memory>
#include <vector>

class ProgressDisplay;
class SpeechServiceStarter;
class QTimer;

// Runs the planned files through the window's transcription job, up to --jobs of them side by
// side, each job with a temporary folder of its own, and tells how the run ended.
class BatchRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BatchRunner)

public:
    BatchRunner(const CliOptions &options, const QList<PlannedFile> &plan, const QString &clientId,
        ProgressDisplay *display, QObject *parent = nullptr);
    // Ends every job still running, with its processes and requests, and removes its folder.
    ~BatchRunner() override;

    void start();
    // A request to end from outside (SIGINT, SIGTERM): every job ends at once, no transcript
    // is left half-written, and the run finishes with 128 + the signal's number.
    void interrupt(int signalNumber);

    const RunSummary &summary() const { return result; }
    // Where each file's job keeps what it recognised so far, so that a run that ended early goes
    // on where it ended; empty keeps nothing.
    void setResumeFolder(const QString &folder) { resumeFolder = folder; }
    // The service every job asks, with its secret; the local service starter when the run uses
    // it (not owned).
    void setService(const ServiceSettings &chosen, const QString &secret,
        SpeechServiceStarter *starter = nullptr)
    {
        service = chosen;
        serviceSecret = secret;
        serviceStarter = starter;
    }
    // The user's terms, for every job's text and prompt.
    void setTerms(const UserTerms &list) { terms = list; }

signals:
    void transcriptWritten(const QString &path);
    // 0 all done or skipped, 1 a file failed, 128 + n after signal n.
    void finished(int exitStatus);

private:
    struct Worker;

    void startNext(Worker *worker);
    void connectJob(Worker *worker);
    void fileFinished(Worker *worker);
    void fileEnded(Worker *worker, const QString &failure);
    void writeJson(Worker *worker, const QString &path);
    // Written beside and renamed over; a failure marks the file failed.
    void writeFile(Worker *worker, const QString &path, const QByteArray &bytes);
    void showProgress(Worker *worker, bool tick = false);
    QString fileLabel(int index) const;
    void finishIfIdle();

    CliOptions options;
    QList<PlannedFile> plan;
    QString clientId;
    QString resumeFolder;
    ServiceSettings service;
    QString serviceSecret;
    UserTerms terms;
    SpeechServiceStarter *serviceStarter = nullptr;
    ProgressDisplay *display;
    std::vector<std::unique_ptr<Worker>> workers;
    int nextFile = 0;
    int filesEnded = 0;
    RunSummary result;
    QElapsedTimer clock;
    QTimer *ticker = nullptr;
    Worker *lastMoved = nullptr;
    bool ending = false;
};
