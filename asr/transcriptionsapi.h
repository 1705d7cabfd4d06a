#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "asr/recognitionreply.h"

class QHttpMultiPart;
class QObject;
struct HttpReplyInfo;
struct JobSettings;
class QtHttpClass;

// The transcription API many recognisers speak: each segment one multipart upload to
// "<address>/v1/audio/transcriptions" with a bearer key, answered with "verbose_json".
namespace TranscriptionsApi {

// The upload address: the base address as the user wrote it, with or without "/v1" and
// trailing slashes, and the request path (empty: "/v1/audio/transcriptions"; "/inference" for
// whisper.cpp's server). A base address that already ends in the path is taken whole.
QString url(const QString &serviceBaseUrl, const QString &requestPath = QString());

// The API's code of a language box item: the Mandarin items "zh", Cantonese "yue", English
// "en"; empty for a text of no item, which leaves the language to the service.
QString languageCode(const QString &languageText);

// 16 kHz mono 16-bit samples as a WAV file: a segment that is one already as it is, raw
// samples (a short ".pcm" input is sent uncut) with a header put in front.
QByteArray wavBytes(const QByteArray &segment);

struct Upload
{
    QByteArray wav;
    QString model;
    QString language; // the language box item's text
    QString prompt; // words the service should expect: the user's terms
};
// The form: file, model, language (when known), prompt (when given),
// response_format=verbose_json and timestamp_granularities[]=segment.
QHttpMultiPart *buildForm(const Upload &upload, QObject *parent = nullptr);

// Sends wav through http as one upload to the service of settings: its address and request
// path, model, language, the user's terms as prompt and the key.
void post(QtHttpClass *http, int requestId, const JobSettings &settings, const QByteArray &wav);

// Reads how an upload ended. 2xx with a JSON object: its "text" (none or blank is silence)
// and its "segments" as utterances in milliseconds of the segment; 401/403, 413 and other
// refusals end the job with their failure; 429 and 5xx are retried after Retry-After; no HTTP
// answer is the network failure, a refused certificate names the address and the reason.
RecognitionReply parseReply(const HttpReplyInfo &info, const QString &serviceBaseUrl,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

// Seconds of a Retry-After header (seconds or an HTTP date), at most 300; 0 when absent or
// unreadable, which leaves the wait to the job.
int retryAfterSeconds(const QByteArray &header, const QDateTime &now);

// The notices of the failures that only this API reports (asr/jobnotices.h).
QString credentialsRefusedText();
QString tooLargeText();
QString tlsFailureText(const QString &serviceBaseUrl, const QString &reason);

} // namespace TranscriptionsApi
