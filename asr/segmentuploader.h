#pragma once

#include <QObject>
#include <QPointer>

#include "asr/jobreport.h"
#include "asr/jobsettings.h"
#include "asr/recognitionreply.h"

class QTimer;
class RecognitionBackend;

// Sends one segment at a time through a recognition backend and owns what waits on it: the
// reply's time limit, and the back-off after a busy answer before the same segment goes again.
// stop() and the destructor end the request and both waits without a signal.
class SegmentUploader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SegmentUploader)

public:
    explicit SegmentUploader(QObject *parent = nullptr);
    ~SegmentUploader() override;

    // Sends segment; the reply is waited for settings.recognitionTimeoutMs.
    void send(RecognitionBackend *backend, const QString &segment, const JobSettings &settings);
    void stop();
    bool isWaitingForReply() const { return waiting; }

signals:
    // Every answer but a busy one: text, or a refusal that ends the job.
    void replied(const RecognitionReply &reply);
    // A busy answer: the segment is sent again after seconds (scaled by the settings'
    // backoffScale), announced by retryDue(). reply: the busy answer itself.
    void backingOff(const RecognitionReply &reply, int seconds);
    void retryDue();
    // No answer in time, or none at all.
    void failed(const JobFailure &failure);

private:
    void follow(RecognitionBackend *backend);
    void take(const RecognitionReply &reply);

    QPointer<RecognitionBackend> current;
    QTimer *limit;
    QTimer *backoff;
    double backoffScale = 1.0;
    bool waiting = false;
};
