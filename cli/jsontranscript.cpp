#include "cli/jsontranscript.h"

#include "asr/recognitionrequest.h"

#include <json/value.h>
#include <json/writer.h>

namespace JsonTranscriptRules {

namespace {

Json::Value utf8(const QString &text)
{
    return Json::Value(text.toUtf8().toStdString());
}

// Times to the millisecond: more digits than that only show floating-point noise.
double seconds(double value)
{
    return qRound64(value * 1000.0) / 1000.0;
}

} // namespace

QByteArray build(const JsonTranscript &transcript, const QString &wholeText)
{
    Json::Value root(Json::objectValue);
    root["file"] = utf8(transcript.file);
    root["language"] = utf8(transcript.language);
    const int devPid = devPidForLanguage(transcript.language);
    if (devPid >= 0)
        root["dev_pid"] = devPid;
    root["service"] = utf8(transcript.service);
    Json::Value segments(Json::arrayValue);
    for (const TranscriptSegment &segment : transcript.segments) {
        Json::Value entry(Json::objectValue);
        entry["start"] = seconds(segment.start);
        entry["end"] = seconds(segment.end);
        entry["text"] = utf8(segment.text);
        segments.append(entry);
    }
    root["segments"] = segments;
    root["text"] = utf8(wholeText);

    Json::StreamWriterBuilder builder;
    builder["indentation"] = "   ";
    builder["emitUTF8"] = true; // Chinese text stays readable rather than \u-escaped
    return QByteArray::fromStdString(Json::writeString(builder, root) + '\n');
}

} // namespace JsonTranscriptRules
