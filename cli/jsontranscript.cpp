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

TranscriptSegment segmentInFile(
    bool last, int startSecond, int endSecond, qint64 audioMs, const QString &text)
{
    const double end = last ? qMax(double(endSecond), audioMs / 1000.0) : double(endSecond);
    return TranscriptSegment { double(startSecond), end, text };
}

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
    Json::Value utterances(Json::arrayValue);
    for (const TimedUtterance &utterance : transcript.utterances) {
        Json::Value entry(Json::objectValue);
        entry["start"] = seconds(utterance.startMs / 1000.0);
        entry["end"] = seconds(utterance.endMs / 1000.0);
        entry["text"] = utf8(utterance.text);
        if (!utterance.words.isEmpty()) {
            Json::Value words(Json::arrayValue);
            for (const TimedWord &word : utterance.words) {
                Json::Value item(Json::objectValue);
                item["word"] = utf8(word.text);
                item["start"] = seconds(word.startMs / 1000.0);
                item["end"] = seconds(word.endMs / 1000.0);
                words.append(item);
            }
            entry["words"] = words;
        }
        utterances.append(entry);
    }
    root["utterances"] = utterances;
    root["text"] = utf8(wholeText);

    Json::StreamWriterBuilder builder;
    builder["indentation"] = "   ";
    builder["emitUTF8"] = true; // Chinese text stays readable rather than \u-escaped
    return QByteArray::fromStdString(Json::writeString(builder, root) + '\n');
}

} // namespace JsonTranscriptRules
