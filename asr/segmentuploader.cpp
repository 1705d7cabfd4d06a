#include "asr/segmentuploader.h"

#include <QTimer>

#include "asr/backoff.h"
#include "asr/recognitionbackend.h"

SegmentUploader::SegmentUploader(QObject *parent)
    : QObject(parent)
    , limit(new QTimer(this))
    , backoff(new QTimer(this))
{
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this] {
        if (!waiting)
            return;
        stop();
        emit failed(JobFailure::Kind::NoAnswer);
    });
    backoff->setSingleShot(true);
    connect(backoff, &QTimer::timeout, this, &SegmentUploader::retryDue);
}

SegmentUploader::~SegmentUploader()
{
    blockSignals(true);
    stop();
}

void SegmentUploader::send(
    RecognitionBackend *backend, const QString &segment, const JobSettings &settings)
{
    stop();
    follow(backend);
    backoffScale = settings.backoffScale;
    waiting = true;
    backend->send(segment, settings);
    limit->start(settings.recognitionTimeoutMs);
}

void SegmentUploader::stop()
{
    limit->stop();
    backoff->stop();
    waiting = false;
    if (current)
        current->abort();
}

void SegmentUploader::follow(RecognitionBackend *backend)
{
    if (current == backend)
        return;
    if (current)
        current->disconnect(this);
    current = backend;
    connect(backend, &RecognitionBackend::replied, this, &SegmentUploader::take);
    connect(backend, &RecognitionBackend::unanswered, this, [this](const JobFailure &failure) {
        if (!waiting)
            return;
        stop();
        emit failed(failure);
    });
}

void SegmentUploader::take(const RecognitionReply &reply)
{
    if (!waiting)
        return;
    waiting = false;
    limit->stop();
    if (reply.kind != RecognitionReply::Retry) {
        emit replied(reply);
        return;
    }
    const int seconds
        = reply.retryAfterSeconds > 0 ? reply.retryAfterSeconds : Backoff::drawSeconds();
    backoff->start(Backoff::waitMilliseconds(seconds, backoffScale));
    emit backingOff(reply, seconds);
}
