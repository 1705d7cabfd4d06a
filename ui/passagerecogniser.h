#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

#include "asr/transcriptionjob.h"
#include "core/tasklist.h"
#include "core/timedtext.h"

class QTemporaryDir;
class SpeechServiceStarter;

// One passage of a source recognised again: a one-file transcription job of that span, run in
// a temporary folder of its own, so that neither the window's task list nor its working
// folders nor any transcript in the library is touched. It owns its job and folder; stop() and
// the destructor end both, and a stopped passage reports nothing.
class PassageRecogniser final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(PassageRecogniser)

public:
    explicit PassageRecogniser(QObject *parent = nullptr);
    ~PassageRecogniser() override;

    // settings: whom to ask and how text is written, as for a job of the window; the folders,
    // the span and what is kept are the passage's own. starter: the local service's, or null.
    void start(JobSettings settings, SpeechServiceStarter *starter, const QString &source,
        qint64 fromMs, qint64 toMs);
    void stop();
    // Running from start() until recognised or failed is told.
    bool isRunning() const { return job != nullptr; }
    TranscriptionJob *transcriptionJob() const { return job.get(); }

signals:
    // The passage's text and its utterances, in the source's time.
    void recognised(const QString &text, const TimedUtterances &utterances);
    // Why nothing was recognised (a job's notice, or that nothing was heard).
    void failed(const QString &message);

private:
    void finished();

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TranscriptionJob> job;
    TaskList tasks;
    QStringList texts;
    TimedUtterances heard;
    int runs = 0;
};
