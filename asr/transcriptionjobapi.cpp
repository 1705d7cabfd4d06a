// The transcription job's uploads through the transcription API: one multipart form a
// segment, its reply read into the same steps as the token protocol's.
#include "asr/transcriptionjob.h"

#include <QFile>
#include <QTimer>

#include "asr/qthttpclass.h"
#include "asr/recognitionreply.h"
#include "asr/transcriptionsapi.h"

void TranscriptionJob::sendTranscription(const QString &segment)
{
    TranscriptionsApi::Upload upload;
    QFile file(segment);
    if (file.open(QIODevice::ReadOnly))
        upload.wav = file.readAll();
    upload.model = config.model;
    upload.language = config.language;
    upload.prompt = config.textRules.terms.prompt();
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!config.serviceSecret.isEmpty())
        headers.append({ "Authorization", "Bearer " + config.serviceSecret.toUtf8() });
    awaitingReply = true;
    http->httpPostForm(TranscriptionsRequestId, TranscriptionsApi::url(config.serviceBaseUrl, config.requestPath),
        TranscriptionsApi::buildForm(upload), headers);
    replyLimit->start(config.recognitionTimeoutMs);
}

void TranscriptionJob::readTranscription(int requestId, const HttpReplyInfo &info)
{
    if (requestId != TranscriptionsRequestId || current != Step::Uploading || !awaitingReply)
        return;
    awaitingReply = false;
    replyLimit->stop();
    takeReply(TranscriptionsApi::parseReply(info, config.serviceBaseUrl));
}
