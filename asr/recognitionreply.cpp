#include "asr/recognitionreply.h"

#include "asr/jsonreading.h"

namespace {
const int RetryErrNo = 3304;

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
        if (!entry.isObject() || !entry["text"].isString()
            || !readMs(entry, "start", &utterance.startMs)
            || !readMs(entry, "end", &utterance.endMs))
            continue;
        utterance.text = JsonReading::utf8String(entry["text"]);
        const Json::Value &words = entry["words"];
        if (words.isArray()) {
            for (const Json::Value &item : words) {
                TimedWord word;
                if (item.isObject() && item["word"].isString()
                    && readMs(item, "start", &word.startMs) && readMs(item, "end", &word.endMs)) {
                    word.text = JsonReading::utf8String(item["word"]);
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
    case 3301:
        return QStringLiteral("语音识别结果实际为空！");
    case 3302:
        return QStringLiteral("鉴权失败！");
    case 3303:
        return QStringLiteral("语音服务器后端繁忙，或是音频质量过低！");
    case 3307:
        return QStringLiteral("语音服务器后端识别出错！");
    case 3309:
        return QStringLiteral("服务端无法将音频转为pcm格式，可能是音频格式问题！");
    case 3313:
        return QStringLiteral("语音服务器解析超时！");
    case 3314:
        return QStringLiteral("音频长度过短！");
    case 3315:
        return QStringLiteral("语音服务器处理超时！");
    case 3316:
        return QStringLiteral("音频转为pcm失败！");
    default:
        return QString();
    }
}

RecognitionReply parseRecognitionReply(const QByteArray &body)
{
    RecognitionReply reply;
    reply.message = QStringLiteral("语音服务返回了无法识别的数据！");
    Json::Value root;
    if (body.size() > MaxRecognitionReplyBytes || !JsonReading::parseObject(body, &root))
        return reply;

    const Json::Value &errNo = root["err_no"];
    if (!errNo.isNull() && !errNo.isInt())
        return reply;
    reply.errNo = errNo.isNull() ? 0 : errNo.asInt();

    if (reply.errNo == 0) {
        const Json::Value &result = root["result"];
        if (!result.isNull() && !result.isArray())
            return reply;
        if (result.size() > 0) {
            if (!result[0].isString())
                return reply;
            reply.hasText = true;
            reply.text = JsonReading::utf8String(result[0]);
        }
        reply.utterances = readUtterances(root["utterances"]);
        reply.kind = RecognitionReply::Text;
        reply.message.clear();
    } else if (reply.errNo == RetryErrNo) {
        reply.kind = RecognitionReply::Retry;
        reply.message.clear();
    } else {
        reply.message = messageForErrNo(reply.errNo);
        reply.kind = RecognitionReply::ServiceError;
        if (reply.message.isEmpty()) {
            reply.kind = RecognitionReply::UnknownCode;
            reply.message = QStringLiteral("语音识别出错（错误码：%1）！").arg(reply.errNo);
        }
    }
    return reply;
}

QString uploadProgressText(int segmentCount, int segmentsLeft)
{
    const double percent
        = segmentCount > 0 ? (segmentCount - segmentsLeft) * 100.0 / segmentCount : 100.0;
    return QStringLiteral("转写:%1%").arg(percent, 0, 'f', 1);
}

QString retryText(int seconds)
{
    return QStringLiteral("重申请: %1秒").arg(seconds);
}

QString transcriptText(const QStringList &texts)
{
    QStringList paragraphs;
    for (const QString &text : texts)
        paragraphs << text + QLatin1Char('\n');
    return paragraphs.join(QLatin1Char('\n'));
}
