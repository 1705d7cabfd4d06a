#include "transcript_reply.h"

#include "audio_input.h"

#include <cmath>
#include <cstdio>

namespace speech {

namespace {

// A cue a reader takes in at a glance: two lines of at most 42 characters,
// shown no longer than 7 s.
constexpr size_t kLineChars = 42;
constexpr size_t kMaxCueSamples = 7 * kSampleRate;

Json::Value wordJson(const TimedWord &w)
{
    Json::Value word;
    word["word"] = w.word;
    word["start"] = secondsAt(w.begin);
    word["end"] = secondsAt(w.end);
    return word;
}

// "hh:mm:ss" and the milliseconds after `separator`.
std::string timestamp(size_t sample, char separator)
{
    const long long ms = (long long)(sample)*1000 / kSampleRate;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", ms / 3600000, ms / 60000 % 60,
        ms / 1000 % 60, separator, ms % 1000);
    return text;
}

// Breaks a cue's text into two lines at the blank nearest its middle.
std::string wrapped(const std::string &text)
{
    if (text.size() <= kLineChars)
        return text;
    size_t best = std::string::npos;
    for (size_t i = text.find(' '); i != std::string::npos; i = text.find(' ', i + 1)) {
        if (best == std::string::npos
            || std::labs(long(i) - long(text.size() / 2))
                < std::labs(long(best) - long(text.size() / 2)))
            best = i;
    }
    if (best == std::string::npos)
        return text;
    return text.substr(0, best) + "\n" + text.substr(best + 1);
}

std::string cueList(const std::vector<Cue> &cues, char separator, bool numbered)
{
    std::string body;
    for (size_t i = 0; i < cues.size(); ++i) {
        if (numbered)
            body += std::to_string(i + 1) + "\n";
        body += timestamp(cues[i].begin, separator) + " --> " + timestamp(cues[i].end, separator)
            + "\n" + cues[i].text + "\n\n";
    }
    return body;
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
        entry["start"] = secondsAt(u.begin);
        entry["end"] = secondsAt(u.end);
        entry["text"] = u.text;
        entry["words"] = Json::Value(Json::arrayValue);
        for (const TimedWord &w : u.words)
            entry["words"].append(wordJson(w));
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

std::vector<Cue> subtitleCues(const std::vector<DecoderPool::Utterance> &utterances)
{
    std::vector<Cue> cues;
    for (const DecoderPool::Utterance &u : utterances) {
        if (u.words.empty()) {
            cues.push_back({ u.begin, u.end, wrapped(u.text) });
            continue;
        }
        Cue cue;
        for (const TimedWord &w : u.words) {
            const bool full = !cue.text.empty()
                && (cue.text.size() + 1 + w.word.size() > 2 * kLineChars
                    || w.end - cue.begin > kMaxCueSamples);
            if (full) {
                cue.text = wrapped(cue.text);
                cues.push_back(cue);
                cue = Cue();
            }
            if (cue.text.empty())
                cue.begin = w.begin;
            else
                cue.text += ' ';
            cue.text += w.word;
            cue.end = w.end;
        }
        cue.text = wrapped(cue.text);
        cues.push_back(cue);
    }
    return cues;
}

std::string srtBody(const std::vector<Cue> &cues)
{
    return cueList(cues, ',', true);
}

std::string vttBody(const std::vector<Cue> &cues)
{
    return "WEBVTT\n\n" + cueList(cues, '.', false);
}

} // namespace speech
