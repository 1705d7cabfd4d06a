#include "asr/resumestate.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <json/value.h>
#include <json/writer.h>

#include "asr/jsonreading.h"
#include "asr/recognitionrequest.h"

#include <algorithm>

bool ResumeIdentity::operator==(const ResumeIdentity &other) const
{
    return sourcePath == other.sourcePath && sourceSize == other.sourceSize
        && sourceModifiedMs == other.sourceModifiedMs && devPid == other.devPid
        && serviceUrl == other.serviceUrl && serviceKind == other.serviceKind
        && model == other.model && contentDigest == other.contentDigest
        && segmentSeconds == other.segmentSeconds;
}

ResumeIdentity ResumeIdentity::of(const QString &sourcePath, const QString &language,
    const QString &serviceUrl, const QString &serviceKind, const QString &model)
{
    ResumeIdentity identity;
    identity.sourcePath = sourcePath;
    const QFileInfo info(sourcePath);
    if (info.isFile()) {
        identity.sourceSize = info.size();
        identity.sourceModifiedMs = info.lastModified().toMSecsSinceEpoch();
        identity.contentDigest = ResumeRules::contentDigest(sourcePath);
    }
    identity.serviceKind = serviceKind;
    identity.model = model;
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

Json::Value utterancesJson(const TimedUtterances &utterances)
{
    Json::Value list(Json::arrayValue);
    for (const TimedUtterance &utterance : utterances) {
        Json::Value entry(Json::objectValue);
        entry["start_ms"] = Json::Int64(utterance.startMs);
        entry["end_ms"] = Json::Int64(utterance.endMs);
        entry["text"] = utf8(utterance.text);
        Json::Value words(Json::arrayValue);
        for (const TimedWord &word : utterance.words) {
            Json::Value item(Json::objectValue);
            item["start_ms"] = Json::Int64(word.startMs);
            item["end_ms"] = Json::Int64(word.endMs);
            item["text"] = utf8(word.text);
            words.append(item);
        }
        entry["words"] = words;
        list.append(entry);
    }
    return list;
}

bool readTimes(const Json::Value &object, qint64 *start, qint64 *end, QString *text)
{
    return object.isObject() && readInt64(object, "start_ms", start)
        && readInt64(object, "end_ms", end) && *start >= 0 && *end >= *start
        && readString(object, "text", text);
}

bool readUtterances(const Json::Value &list, TimedUtterances *utterances)
{
    if (!list.isArray())
        return false;
    for (const Json::Value &entry : list) {
        TimedUtterance utterance;
        if (!readTimes(entry, &utterance.startMs, &utterance.endMs, &utterance.text)
            || !entry["words"].isArray())
            return false;
        for (const Json::Value &item : entry["words"]) {
            TimedWord word;
            if (!readTimes(item, &word.startMs, &word.endMs, &word.text))
                return false;
            utterance.words.append(word);
        }
        utterances->append(utterance);
    }
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
    root["service_kind"] = utf8(id.serviceKind);
    root["model"] = utf8(id.model);
    root["content_digest"] = utf8(id.contentDigest);
    root["segment_seconds"] = id.segmentSeconds;
    root["segment_count"] = state.segmentCount;
    Json::Value segments(Json::arrayValue);
    for (const RecognisedSegment &segment : state.segments) {
        Json::Value entry(Json::objectValue);
        entry["text"] = segment.hasText ? Json::Value(utf8(segment.text)) : Json::Value();
        entry["utterances"] = utterancesJson(segment.utterances);
        segments.append(entry);
    }
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
        || !readString(root, "service_kind", &id.serviceKind)
        || !readString(root, "model", &id.model)
        || !readString(root, "content_digest", &id.contentDigest)
        || !readInt(root, "segment_seconds", &id.segmentSeconds) || id.segmentSeconds <= 0
        || !readInt(root, "segment_count", &read.segmentCount) || read.segmentCount <= 0)
        return ParseResult::Corrupt;
    const Json::Value &segments = root["segments"];
    if (!segments.isArray() || segments.size() > Json::ArrayIndex(read.segmentCount))
        return ParseResult::Corrupt;
    for (Json::ArrayIndex i = 0; i < segments.size(); ++i) {
        const Json::Value &segment = segments[i];
        if (!segment.isObject())
            return ParseResult::Corrupt;
        const Json::Value &text = segment["text"];
        RecognisedSegment kept;
        if (text.isString())
            kept = RecognisedSegment { true, JsonReading::utf8String(text), {} };
        else if (!text.isNull())
            return ParseResult::Corrupt;
        if (!readUtterances(segment["utterances"], &kept.utterances))
            return ParseResult::Corrupt;
        read.segments.append(kept);
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

QString contentDigest(const QString &path)
{
    const qint64 span = 64 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const qint64 size = file.size();
    hash.addData(QByteArray::number(size));
    hash.addData(file.read(span));
    if (size > span && file.seek(std::max(span, size - span)))
        hash.addData(file.read(span));
    return QString::fromLatin1(hash.result().toHex());
}

bool isStale(bool sourceIsFile, bool folderHasEntries, qint64 stateAgeDays)
{
    const qint64 keptDays = 180;
    if (stateAgeDays > keptDays)
        return true;
    return !sourceIsFile && folderHasEntries;
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

} // namespace ResumeRules
