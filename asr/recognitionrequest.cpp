#include "asr/recognitionrequest.h"

#include <json/value.h>
#include <json/writer.h>

#include "protocol/speechprotocol.h"

namespace protocol = speechprotocol;
namespace member = speechprotocol::request;

QList<RecognitionLanguage> recognitionLanguages()
{
    return {
        { QStringLiteral("中文近场"), QStringLiteral("zh"), protocol::kMandarinDevPid },
        { QStringLiteral("中文远场"), QStringLiteral("zh-far"), protocol::kMandarinFarFieldDevPid },
        { QStringLiteral("英文"), QStringLiteral("en"), protocol::kEnglishDevPid },
        { QStringLiteral("粤语"), QStringLiteral("yue"), protocol::kCantoneseDevPid },
        { QStringLiteral("四川话"), QStringLiteral("zh-sc"), protocol::kSichuaneseDevPid },
    };
}

int devPidForLanguage(const QString &language)
{
    for (const RecognitionLanguage &row : recognitionLanguages()) {
        if (language == row.text)
            return row.devPid;
    }
    return -1;
}

QString recognitionUrl(const QString &serviceBaseUrl)
{
    return serviceBaseUrl + QLatin1String(protocol::path::kRecognition);
}

QByteArray buildRecognitionBody(const RecognitionRequest &request)
{
    Json::Value root(Json::objectValue);
    root[member::kFormat] = protocol::kWavFormat;
    root[member::kRate] = protocol::kSampleRate;
    const int devPid = devPidForLanguage(request.language);
    if (devPid >= 0)
        root[member::kDevPid] = devPid;
    root[member::kChannel] = protocol::kChannels;
    root[member::kToken] = request.token.toLocal8Bit().toStdString();
    root[member::kCuid] = request.clientId.toLocal8Bit().toStdString();
    root[member::kLen] = Json::Int64(request.length);
    root[member::kSpeech] = request.speech.toBase64().toStdString();
    // The styled form: members sorted, one per line, three-blank indent, final line break.
    // (toStyledString of this JsonCpp indents with tabs, so the indent is set here.)
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "   ";
    return QByteArray::fromStdString(Json::writeString(builder, root) + '\n');
}
