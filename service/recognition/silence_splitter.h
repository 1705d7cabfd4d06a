#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace speech {

struct SilenceRun
{
    size_t begin = 0; // first silent sample
    size_t end = 0; // one past the last silent sample
    size_t middle() const { return begin + (end - begin) / 2; }
    size_t length() const { return end - begin; }
};

struct SplitSettings
{
    size_t frameSamples = 160; // 10 ms at 16 kHz
    size_t minSilenceSamples = 4000; // 250 ms: longer than any pause inside a word
    size_t minUtteranceSamples = 4800; // 300 ms: shorter stretches stay with a neighbour
    size_t minPartSamples = 32000; // parts shorter than 2 s are not worth a decoder
    double minContrastDb = 12.0; // less spread between quiet and loud frames tells nothing
    double thresholdPosition = 0.25; // where between noise floor and speech level "quiet" ends
};

// Runs of at least minSilenceSamples whose frames are all quiet, measured
// against the recording's own level: the quiet threshold lies between its
// noise floor and its speech level. A recording without such contrast has
// no runs.
std::vector<SilenceRun> findSilences(
    const int16_t *samples, size_t count, const SplitSettings &settings = {});

// Cuts the samples into utterances in the middle of each silent run inside
// them. Returns the boundaries: 0, each cut, count (just 0 for no samples).
std::vector<size_t> utteranceBounds(
    const int16_t *samples, size_t count, const SplitSettings &settings = {});

// Cuts every utterance longer than maxSamples into equal parts no longer
// than that: a stretch without pauses still reaches the recogniser in pieces
// it takes.
std::vector<size_t> capUtterances(std::vector<size_t> bounds, size_t maxSamples);

// Groups utterances into at most `parts` runs of about equal length, each at
// least minPartSamples long; the result is a subset of `bounds` that keeps
// its first and last entry.
std::vector<size_t> groupUtterances(
    const std::vector<size_t> &bounds, int parts, const SplitSettings &settings = {});

// Splits the samples into at most `parts` pieces, cutting only in silences:
// every sample lies in exactly one piece and the pieces keep their order.
std::vector<size_t> splitAtSilences(
    const int16_t *samples, size_t count, int parts, const SplitSettings &settings = {});

} // namespace speech
