#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace subtitles {

// Times are milliseconds from the start of the file; text is UTF-8.
struct Word
{
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string text;
};

struct Utterance
{
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string text;
    std::vector<Word> words; // empty when the recogniser gave no word times
};

struct Cue
{
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::vector<std::string> lines;
};

// The usual subtitle conventions: two lines at most, 42 characters a line for Latin script
// and 16 for Chinese, between one and seven seconds on screen.
struct CueRules
{
    std::size_t maxLines = 2;
    std::size_t latinLineChars = 42;
    std::size_t cjkLineChars = 16;
    std::int64_t minDurationMs = 1000;
    std::int64_t maxDurationMs = 7000;
};

// A piece of an utterance that a line may break after, with the time it was said.
struct TimedToken
{
    std::string text;
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    bool spaceBefore = false; // false inside text written without spaces
};

// The characters a line of this text may hold.
std::size_t lineLimit(const std::string &line, const CueRules &rules = {});

// Splits an utterance at word boundaries (each CJK character is one) and gives every token a
// time: its word's time where the recogniser gave words, else a share of the utterance's time
// by characters. A token longer than a line is cut into pieces that fit.
std::vector<TimedToken> timedTokens(const Utterance &utterance, const CueRules &rules = {});

// Lays utterances out as cues: in time order, no overlap, every cue within the rules. An
// utterance never shares a cue with another.
std::vector<Cue> layoutCues(std::vector<Utterance> utterances, const CueRules &rules = {});

// Makes a cue list keep time order, not overlap and stay within the durations; a cue shorter
// than the minimum is held on screen longer, pushing the next one later if it must.
void settleCueTimes(std::vector<Cue> &cues, const CueRules &rules = {});

} // namespace subtitles
