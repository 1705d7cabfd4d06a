#include "asr/transcriptionsapi.h"

#include "asr/jobsettings.h"
#include "asr/qthttpclass.h"

#include <QHttpMultiPart>
#include <QLocale>
#include <QNetworkRequest>

#include <cmath>

#include "asr/jsonreading.h"
#include "asr/qthttpclass.h"
#include "asr/recognitionrequest.h"
#include "protocol/speechprotocol.h"

namespace {

const int MaxRetryAfterSeconds = 300;

QHttpPart textPart(const QByteArray &name, const QByteArray &value)
{
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
        QByteArray(QByteArray("form-data; name=\"") + name + '"'));
    part.setBody(value);
    return part;
}

void appendLe(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// What a refusing service said about it, when it said something readable, shortened.
QString serviceMessage(const QByteArray &body)
{
    Json::Value root;
    QString text;
    if (JsonReading::parseObject(body, &root)) {
        const Json::Value &error = root["error"];
        text = error.isObject() ? JsonReading::stringMember(error, "message")
                                : JsonReading::utf8String(error);
        if (text.isEmpty())
            text = JsonReading::stringMember(root, "message");
    }
    text = text.simplified();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("…");
    return text;
}

qint64 milliseconds(const Json::Value &seconds)
{
    return seconds.isNumeric() ? qint64(std::llround(seconds.asDouble() * 1000.0)) : -1;
}

RecognitionReply ending(RecognitionReply::Kind kind, const JobFailure &failure)
{
    RecognitionReply reply;
    reply.kind = kind;
    reply.failure = failure;
    return reply;
}

RecognitionReply readText(const QByteArray &body)
{
    RecognitionReply reply;
    Json::Value root;
    if (body.size() > MaxRecognitionReplyBytes || !JsonReading::parseObject(body, &root))
        return reply;
    const Json::Value &text = root["text"];
    if (!text.isNull() && !text.isString())
        return reply;
    if (text.isNull() && !root["error"].isNull()) {
        reply.kind = RecognitionReply::ServiceError;
        reply.failure = { JobFailure::Kind::ServiceReported, QString(), serviceMessage(body) };
        return reply;
    }
    reply.text = JsonReading::utf8String(text).trimmed();
    reply.hasText = !reply.text.isEmpty();
    const Json::Value &segments = root["segments"];
    if (reply.hasText && segments.isArray()) {
        for (const Json::Value &segment : segments) {
            if (!segment.isObject())
                continue;
            TimedUtterance utterance;
            utterance.startMs = milliseconds(segment["start"]);
            utterance.endMs = milliseconds(segment["end"]);
            utterance.text = JsonReading::stringMember(segment, "text").trimmed();
            if (utterance.startMs < 0 || utterance.endMs < utterance.startMs
                || utterance.text.isEmpty())
                continue;
            reply.utterances.append(utterance);
        }
    }
    reply.kind = RecognitionReply::Text;
    return reply;
}

} // namespace

namespace TranscriptionsApi {

QString url(const QString &serviceBaseUrl, const QString &requestPath)
{
    QString base = serviceBaseUrl.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    QString path = requestPath.trimmed();
    if (path.isEmpty())
        path = QStringLiteral("/v1/audio/transcriptions");
    else if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    if (base.endsWith(path))
        return base;
    // Client libraries and servers' own pages write the base address with its "/v1".
    const QString v1 = QStringLiteral("/v1");
    if (base.endsWith(v1) && path.startsWith(v1 + QLatin1Char('/')))
        base.chop(v1.size());
    return base + path;
}

QString languageCode(const QString &languageText)
{
    for (const RecognitionLanguage &language : recognitionLanguages()) {
        if (language.text != languageText)
            continue;
        // Every Chinese item but Cantonese is Mandarin speech to the API.
        if (language.shortName.startsWith(QLatin1String("zh")))
            return QStringLiteral("zh");
        return language.shortName;
    }
    return QString();
}

QByteArray wavBytes(const QByteArray &segment)
{
    if (segment.startsWith("RIFF") && segment.mid(8, 4) == "WAVE")
        return segment;
    const quint32 rate = speechprotocol::kSampleRate;
    QByteArray wav("RIFF");
    appendLe(wav, quint32(36 + segment.size()), 4);
    wav += "WAVEfmt ";
    appendLe(wav, 16, 4);
    appendLe(wav, 1, 2); // PCM
    appendLe(wav, 1, 2); // mono
    appendLe(wav, rate, 4);
    appendLe(wav, rate * 2, 4);
    appendLe(wav, 2, 2);
    appendLe(wav, 16, 2);
    wav += "data";
    appendLe(wav, quint32(segment.size()), 4);
    return wav + segment;
}

QHttpMultiPart *buildForm(const Upload &upload, QObject *parent)
{
    auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType, parent);
    QHttpPart file;
    file.setHeader(QNetworkRequest::ContentDispositionHeader,
        QByteArray("form-data; name=\"file\"; filename=\"segment.wav\""));
    file.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("audio/wav"));
    file.setBody(wavBytes(upload.wav));
    form->append(file);
    form->append(textPart("model", upload.model.toUtf8()));
    const QString language = languageCode(upload.language);
    if (!language.isEmpty())
        form->append(textPart("language", language.toUtf8()));
    if (!upload.prompt.isEmpty())
        form->append(textPart("prompt", upload.prompt.toUtf8()));
    form->append(textPart("response_format", "verbose_json"));
    form->append(textPart("timestamp_granularities[]", "segment"));
    return form;
}

int retryAfterSeconds(const QByteArray &header, const QDateTime &now)
{
    const QByteArray value = header.trimmed();
    if (value.isEmpty())
        return 0;
    bool isNumber = false;
    qint64 seconds = value.toLongLong(&isNumber);
    if (!isNumber) {
        // An HTTP date: "Wed, 21 Oct 2015 07:28:00 GMT".
        QDateTime at = QLocale::c().toDateTime(
            QString::fromLatin1(value), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
        if (!at.isValid())
            return 0;
        at.setTimeSpec(Qt::UTC);
        seconds = now.secsTo(at);
    }
    return int(qBound<qint64>(seconds > 0 ? 1 : 0, seconds, MaxRetryAfterSeconds));
}

QString credentialsRefusedText()
{
    return QStringLiteral("语音服务拒绝了访问凭据，请在服务设置中检查密钥！");
}

QString tooLargeText()
{
    return QStringLiteral("语音服务拒绝了过大的音频片段，请检查服务的上传大小限制！");
}

QString tlsFailureText(const QString &serviceBaseUrl, const QString &reason)
{
    return QStringLiteral("无法与 %1 建立安全连接，证书未通过验证：%2").arg(serviceBaseUrl, reason);
}

RecognitionReply parseReply(
    const HttpReplyInfo &info, const QString &serviceBaseUrl, const QDateTime &now)
{
    using Failure = JobFailure::Kind;
    if (!info.tlsFailure.isEmpty())
        return ending(RecognitionReply::ServiceError,
            { Failure::CertificateRefused, serviceBaseUrl, info.tlsFailure });
    const int status = info.status;
    if (status == 0)
        return ending(RecognitionReply::ServiceError, Failure::NoAnswer);
    if (status >= 200 && status < 300)
        return readText(info.body);
    if (status == 429 || (status >= 500 && status < 600)) {
        RecognitionReply reply = ending(RecognitionReply::Retry, JobFailure());
        reply.retryAfterSeconds = retryAfterSeconds(info.retryAfter, now);
        return reply;
    }
    if (status == 401 || status == 403)
        return ending(RecognitionReply::ServiceError, Failure::CredentialsRefused);
    if (status == 413)
        return ending(RecognitionReply::ServiceError, Failure::UploadTooLarge);
    if (status == 404)
        return ending(RecognitionReply::ServiceError, Failure::NoTranscriptionsApi);
    return ending(RecognitionReply::UnknownCode,
        { Failure::HttpRefused, QString(), serviceMessage(info.body), 0, status });
}

void post(QtHttpClass *http, int requestId, const JobSettings &settings, const QByteArray &wav)
{
    Upload upload;
    upload.wav = wav;
    upload.model = settings.model;
    upload.language = settings.language;
    upload.prompt = settings.textRules.terms.prompt();
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!settings.serviceSecret.isEmpty())
        headers.append({ "Authorization", "Bearer " + settings.serviceSecret.toUtf8() });
    http->httpPostForm(
        requestId, url(settings.serviceBaseUrl, settings.requestPath), buildForm(upload), headers);
}

} // namespace TranscriptionsApi
