#include "asr/recognitionreply.h"

#include "asr/jsonreading.h"
#include "protocol/speechprotocol.h"

namespace {
namespace err = speechprotocol::err;
namespace field = speechprotocol::reply;

// Seconds of the reply as milliseconds; false for anything but a finite, non-negative number.
bool readMs(const Json::Value &object, const char *name, qint64 *ms)
{
    const Json::Value &value = object[name];
    if (!value.isNumeric())
        return false;
    const double seconds = value.asDouble();
    if (!(seconds >= 0 && seconds < 1e9))
        return false;
    *ms = qRound64(seconds * 1000.0);
    return true;
}

// The reply's "utterances", where it has them. An entry of the wrong shape is left out rather
// than ending the job: the text is what matters, the times are a help.
TimedUtterances readUtterances(const Json::Value &member)
{
    TimedUtterances utterances;
    if (!member.isArray())
        return utterances;
    for (const Json::Value &entry : member) {
        TimedUtterance utterance;
        if (!entry.isObject() || !entry[field::kText].isString()
            || !readMs(entry, field::kStart, &utterance.startMs)
            || !readMs(entry, field::kEnd, &utterance.endMs))
            continue;
        utterance.text = JsonReading::utf8String(entry[field::kText]);
        const Json::Value &words = entry[field::kWords];
        if (words.isArray()) {
            for (const Json::Value &item : words) {
                TimedWord word;
                if (item.isObject() && item[field::kWord].isString()
                    && readMs(item, field::kStart, &word.startMs)
                    && readMs(item, field::kEnd, &word.endMs)) {
                    word.text = JsonReading::utf8String(item[field::kWord]);
                    utterance.words.append(word);
                }
            }
        }
        utterances.append(utterance);
    }
    return utterances;
}
} // namespace

QString messageForErrNo(int errNo)
{
    switch (errNo) {
    case err::kEmptyResult:
        return QStringLiteral("语音识别结果实际为空！");
    case err::kAuthFailed:
        return QStringLiteral("鉴权失败！");
    case err::kBackendBusyOrPoorAudio:
        return QStringLiteral("语音服务器后端繁忙，或是音频质量过低！");
    case err::kRecognitionFailed:
        return QStringLiteral("语音服务器后端识别出错！");
    case err::kBadAudio:
        return QStringLiteral("服务端无法将音频转为pcm格式，可能是音频格式问题！");
    case err::kParseTimeout:
        return QStringLiteral("语音服务器解析超时！");
    case err::kTooShort:
        return QStringLiteral("音频长度过短！");
    case err::kProcessTimeout:
        return QStringLiteral("语音服务器处理超时！");
    case err::kPcmConversionFailed:
        return QStringLiteral("音频转为pcm失败！");
    default:
        return QString();
    }
}

RecognitionReply parseRecognitionReply(const QByteArray &body)
{
    RecognitionReply reply;
    Json::Value root;
    if (body.size() > MaxRecognitionReplyBytes || !JsonReading::parseObject(body, &root))
        return reply;

    const Json::Value &errNo = root[field::kErrNo];
    if (!errNo.isNull() && !errNo.isInt())
        return reply;
    reply.errNo = errNo.isNull() ? err::kSuccess : errNo.asInt();

    if (reply.errNo == err::kSuccess) {
        const Json::Value &result = root[field::kResult];
        if (!result.isNull() && !result.isArray())
            return reply;
        if (result.size() > 0) {
            if (!result[0].isString())
                return reply;
            reply.hasText = true;
            reply.text = JsonReading::utf8String(result[0]);
        }
        reply.utterances = readUtterances(root[field::kUtterances]);
        reply.kind = RecognitionReply::Text;
    } else if (reply.errNo == err::kBusy) {
        reply.kind = RecognitionReply::Retry;
    } else if (!messageForErrNo(reply.errNo).isEmpty()) {
        reply.kind = RecognitionReply::ServiceError;
        reply.failure = { JobFailure::Kind::ServiceRefused, QString(), QString(), reply.errNo };
    } else {
        reply.kind = RecognitionReply::UnknownCode;
        reply.failure = { JobFailure::Kind::UnknownErrNo, QString(), QString(), reply.errNo };
    }
    return reply;
}

QString transcriptText(const QStringList &texts)
{
    QStringList paragraphs;
    for (const QString &text : texts)
        paragraphs << text + QLatin1Char('\n');
    return paragraphs.join(QLatin1Char('\n'));
}
