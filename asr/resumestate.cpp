#include "asr/resumestate.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

#include <json/value.h>
#include <json/writer.h>

#include "asr/jsonreading.h"
#include "asr/recognitionrequest.h"

bool ResumeIdentity::operator==(const ResumeIdentity &other) const
{
    return sourcePath == other.sourcePath && sourceSize == other.sourceSize
        && sourceModifiedMs == other.sourceModifiedMs && devPid == other.devPid
        && serviceUrl == other.serviceUrl && segmentSeconds == other.segmentSeconds;
}

ResumeIdentity ResumeIdentity::of(
    const QString &sourcePath, const QString &language, const QString &serviceUrl)
{
    ResumeIdentity identity;
    identity.sourcePath = sourcePath;
    const QFileInfo info(sourcePath);
    if (info.isFile()) {
        identity.sourceSize = info.size();
        identity.sourceModifiedMs = info.lastModified().toMSecsSinceEpoch();
    }
    identity.devPid = devPidForLanguage(language);
    identity.serviceUrl = serviceUrl;
    return identity;
}

namespace ResumeRules {

namespace {

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

bool readInt64(const Json::Value &object, const char *name, qint64 *value)
{
    const Json::Value &member = object[name];
    if (!member.isInt64())
        return false;
    *value = member.asInt64();
    return true;
}

bool readInt(const Json::Value &object, const char *name, int *value)
{
    const Json::Value &member = object[name];
    if (!member.isInt())
        return false;
    *value = member.asInt();
    return true;
}

bool readString(const Json::Value &object, const char *name, QString *value)
{
    if (!object[name].isString())
        return false;
    *value = JsonReading::stringMember(object, name);
    return true;
}

} // namespace

QByteArray serialize(const ResumeState &state)
{
    const ResumeIdentity &id = state.identity;
    Json::Value root(Json::objectValue);
    root["version"] = ResumeState::formatVersion;
    root["source"] = utf8(id.sourcePath);
    root["source_size"] = Json::Int64(id.sourceSize);
    root["source_modified_ms"] = Json::Int64(id.sourceModifiedMs);
    root["dev_pid"] = id.devPid;
    root["service"] = utf8(id.serviceUrl);
    root["segment_seconds"] = id.segmentSeconds;
    root["segment_count"] = state.segmentCount;
    Json::Value segments(Json::arrayValue);
    for (const RecognisedSegment &segment : state.segments)
        segments.append(segment.hasText ? Json::Value(utf8(segment.text)) : Json::Value());
    root["segments"] = segments;

    Json::StreamWriterBuilder builder;
    builder["indentation"] = " ";
    builder["emitUTF8"] = true;
    const std::string text = Json::writeString(builder, root) + '\n';
    return QByteArray(text.data(), int(text.size()));
}

ParseResult parse(const QByteArray &bytes, ResumeState *state)
{
    Json::Value root;
    if (!JsonReading::parseObject(bytes, &root))
        return ParseResult::Corrupt;
    int version = 0;
    if (!readInt(root, "version", &version))
        return ParseResult::Corrupt;
    if (version != ResumeState::formatVersion)
        return ParseResult::OtherVersion;

    ResumeState read;
    ResumeIdentity &id = read.identity;
    if (!readString(root, "source", &id.sourcePath) || id.sourcePath.isEmpty()
        || !readInt64(root, "source_size", &id.sourceSize) || id.sourceSize < 0
        || !readInt64(root, "source_modified_ms", &id.sourceModifiedMs)
        || !readInt(root, "dev_pid", &id.devPid) || !readString(root, "service", &id.serviceUrl)
        || !readInt(root, "segment_seconds", &id.segmentSeconds) || id.segmentSeconds <= 0
        || !readInt(root, "segment_count", &read.segmentCount) || read.segmentCount <= 0)
        return ParseResult::Corrupt;
    const Json::Value &segments = root["segments"];
    if (!segments.isArray() || segments.size() > Json::ArrayIndex(read.segmentCount))
        return ParseResult::Corrupt;
    for (Json::ArrayIndex i = 0; i < segments.size(); ++i) {
        const Json::Value &segment = segments[i];
        if (segment.isNull())
            read.segments.append(RecognisedSegment());
        else if (segment.isString())
            read.segments.append(RecognisedSegment { true, JsonReading::utf8String(segment) });
        else
            return ParseResult::Corrupt;
    }
    *state = read;
    return ParseResult::Ok;
}

QString sourceOf(const QByteArray &bytes)
{
    Json::Value root;
    if (!JsonReading::parseObject(bytes, &root))
        return QString();
    return JsonReading::stringMember(root, "source");
}

QString stateFileName(const QString &sourcePath)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(sourcePath.toUtf8(), QCryptographicHash::Sha1).toHex())
        + QStringLiteral(".json");
}

bool isStateFileName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{40}\\.json$"));
    return pattern.match(name).hasMatch();
}

bool canResume(const ResumeState &kept, const ResumeIdentity &now)
{
    return now.sourceSize >= 0 && kept.identity == now && kept.segments.size() <= kept.segmentCount;
}

QString resumeText(int firstSegmentIndex)
{
    return QStringLiteral("续转:第%1段").arg(firstSegmentIndex + 1);
}

QString notKeptText()
{
    return QStringLiteral("不保存进度...");
}

} // namespace ResumeRules
