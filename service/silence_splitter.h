#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace speech {

struct SilenceRun
{
    size_t begin = 0; // first silent sample
    size_t end = 0;   // one past the last silent sample
    size_t middle() const { return begin + (end - begin) / 2; }
    size_t length() const { return end - begin; }
};

struct SplitSettings
{
    size_t frameSamples = 160;        // 10 ms at 16 kHz
    size_t minSilenceSamples = 3200;  // 200 ms: longer than any pause inside a word
    size_t minPartSamples = 32000;    // parts shorter than 2 s are not worth a decoder
    double balanceWindow = 0.15;      // how far from an even split a cut may move for a longer pause
};

// Runs of at least minSilenceSamples whose frames are all quiet, measured
// against the recording's own level: the quiet threshold lies between its
// noise floor and its speech level. A recording without such contrast has
// no runs.
std::vector<SilenceRun> findSilences(const int16_t *samples, size_t count,
                                     const SplitSettings &settings = {});

// Splits the samples into at most `parts` pieces, cutting only in the middle
// of silent runs. Returns the piece boundaries: 0, each cut, count. Every
// sample lies in exactly one piece and the pieces keep their order.
std::vector<size_t> splitAtSilences(const int16_t *samples, size_t count, int parts,
                                    const SplitSettings &settings = {});

} // namespace speech
