#include "asr/livepiece.h"

#include <json/json.h>

#include <memory>
#include <sstream>

#include "protocol/speechprotocol.h"

namespace LivePiece {

namespace live = speechprotocol::live;

QString url(const QString &serviceBaseUrl)
{
    return serviceBaseUrl + QLatin1String(speechprotocol::path::kLive);
}

QByteArray body(
    const RecognitionRequest &request, const QString &session, qint64 offsetSamples, bool last)
{
    const std::string base = buildRecognitionBody(request).toStdString();
    Json::Value root;
    Json::CharReaderBuilder reader;
    std::string errors;
    std::istringstream in(base);
    Json::parseFromStream(reader, in, &root, &errors);
    if (!session.isEmpty())
        root[live::kSession] = session.toStdString();
    root[live::kOffset] = Json::Int64(offsetSamples);
    root[live::kEnd] = last ? 1 : 0;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return QByteArray::fromStdString(Json::writeString(writer, root));
}

QString sessionOf(const QByteArray &replyBody)
{
    Json::Value root;
    Json::CharReaderBuilder reader;
    const std::unique_ptr<Json::CharReader> parser(reader.newCharReader());
    if (!parser->parse(
            replyBody.constData(), replyBody.constData() + replyBody.size(), &root, nullptr)
        || !root.isObject() || !root[live::kSession].isString())
        return {};
    return QString::fromStdString(root[live::kSession].asString());
}

} // namespace LivePiece
