#include "asr/recognitionrequest.h"

#include <json/value.h>
#include <json/writer.h>

QList<RecognitionLanguage> recognitionLanguages()
{
    return {
        { QStringLiteral("中文近场"), QStringLiteral("zh"), 1537 },
        { QStringLiteral("中文远场"), QStringLiteral("zh-far"), 1936 },
        { QStringLiteral("英文"), QStringLiteral("en"), 1737 },
        { QStringLiteral("粤语"), QStringLiteral("yue"), 1637 },
        { QStringLiteral("四川话"), QStringLiteral("zh-sc"), 1837 },
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
    return serviceBaseUrl + QStringLiteral("/server_api");
}

QByteArray buildRecognitionBody(const RecognitionRequest &request)
{
    Json::Value root(Json::objectValue);
    root["format"] = "wav";
    root["rate"] = 16000;
    const int devPid = devPidForLanguage(request.language);
    if (devPid >= 0)
        root["dev_pid"] = devPid;
    root["channel"] = 1;
    root["token"] = request.token.toLocal8Bit().toStdString();
    root["cuid"] = request.clientId.toLocal8Bit().toStdString();
    root["len"] = Json::Int64(request.length);
    root["speech"] = request.speech.toBase64().toStdString();
    // The styled form: members sorted, one per line, three-blank indent, final line break.
    // (toStyledString of this JsonCpp indents with tabs, so the indent is set here.)
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "   ";
    return QByteArray::fromStdString(Json::writeString(builder, root) + '\n');
}
