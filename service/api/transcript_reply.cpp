#include "service/api/transcript_reply.h"

#include "service/recognition/audio_input.h"

#include <subtitles/cues.h>
#include <subtitles/writers.h>

#include <cmath>
#include <cstdio>
#include <zlib.h>

namespace speech {

namespace {

// The recognition reply's "utterances" and the words within them.
namespace reply = speechprotocol::reply;

Json::Value wordJson(const TimedWord &w)
{
    Json::Value word;
    word[reply::kWord] = w.word;
    word[reply::kStart] = secondsAt(w.begin);
    word[reply::kEnd] = secondsAt(w.end);
    return word;
}

std::int64_t msAt(size_t sample)
{
    return std::int64_t(sample) * 1000 / kSampleRate;
}

std::vector<subtitles::Cue> cuesOf(const std::vector<DecoderPool::Utterance> &utterances)
{
    std::vector<subtitles::Utterance> spoken;
    for (const DecoderPool::Utterance &u : utterances) {
        subtitles::Utterance s;
        s.startMs = msAt(u.begin);
        s.endMs = msAt(u.end);
        s.text = u.text;
        for (const TimedWord &w : u.words)
            s.words.push_back({ msAt(w.begin), msAt(w.end), w.word });
        spoken.push_back(std::move(s));
    }
    return subtitles::layoutCues(std::move(spoken));
}

// How much zlib shrinks the text: the figure clients of that API check for
// runaway repetition (a high ratio). 0 for an empty text.
double compressionRatio(const std::string &text)
{
    if (text.empty())
        return 0;
    uLongf packed = compressBound(uLong(text.size()));
    std::string out(packed, '\0');
    if (compress(reinterpret_cast<Bytef *>(out.data()), &packed,
            reinterpret_cast<const Bytef *>(text.data()), uLong(text.size()))
        != Z_OK)
        return 0;
    return std::round(double(text.size()) / double(packed) * 1000) / 1000;
}

} // namespace

double secondsAt(size_t sample)
{
    return std::round(double(sample) / (kSampleRate / 100)) / 100;
}

Json::Value utterancesJson(const std::vector<DecoderPool::Utterance> &utterances)
{
    Json::Value list(Json::arrayValue);
    for (const DecoderPool::Utterance &u : utterances) {
        Json::Value entry;
        entry[reply::kStart] = secondsAt(u.begin);
        entry[reply::kEnd] = secondsAt(u.end);
        entry[reply::kText] = u.text;
        entry[reply::kWords] = Json::Value(Json::arrayValue);
        for (const TimedWord &w : u.words)
            entry[reply::kWords].append(wordJson(w));
        list.append(entry);
    }
    return list;
}

Json::Value verboseJson(const Transcript &transcript, bool segments, bool words)
{
    Json::Value body;
    body["task"] = "transcribe";
    body["language"] = transcript.language;
    body["duration"] = secondsAt(transcript.samples);
    body["text"] = transcript.text;
    if (segments) {
        body["segments"] = Json::Value(Json::arrayValue);
        for (const DecoderPool::Utterance &u : transcript.utterances) {
            Json::Value segment;
            segment["id"] = Json::UInt(body["segments"].size());
            segment["start"] = secondsAt(u.begin);
            segment["end"] = secondsAt(u.end);
            segment["text"] = u.text;
            // What strict clients of that API require. The search is
            // deterministic (temperature 0) and runs on the whole file in
            // one window per utterance, whose start, in 10 ms frames, is the
            // seek; the recogniser has no token ids and estimates neither a
            // log probability nor the chance of silence, so those are 0.
            segment["seek"] = Json::Int64(std::llround(double(u.begin) * 100 / kSampleRate));
            segment["tokens"] = Json::Value(Json::arrayValue);
            segment["temperature"] = 0.0;
            segment["avg_logprob"] = 0.0;
            segment["compression_ratio"] = compressionRatio(u.text);
            segment["no_speech_prob"] = 0.0;
            body["segments"].append(segment);
        }
    }
    if (words) {
        body["words"] = Json::Value(Json::arrayValue);
        for (const DecoderPool::Utterance &u : transcript.utterances) {
            for (const TimedWord &w : u.words)
                body["words"].append(wordJson(w));
        }
    }
    return body;
}

std::string srtBody(const std::vector<DecoderPool::Utterance> &utterances)
{
    return subtitles::writeSrt(cuesOf(utterances));
}

std::string vttBody(const std::vector<DecoderPool::Utterance> &utterances)
{
    return subtitles::writeVtt(cuesOf(utterances));
}

} // namespace speech
