#pragma once

#include <string>
#include <vector>

namespace speech {

// How widely the decoder searches: PocketSphinx's pruning limits, its passes and its frame rate.
// A narrower search decodes faster and may lose words; the defaults were chosen by measuring
// both on the project's tuning set (bench/tovtune).
struct SearchSettings
{
    int maxHmmsPerFrame = 30000; // -maxhmmpf
    int maxWordsPerFrame = -1; // -maxwpf; -1: no limit
    double beam = 1e-48; // -beam
    double wordBeam = 7e-29; // -wbeam
    double phoneBeam = 1e-48; // -pbeam
    bool flatPass = true; // -fwdflat: a second, flat-lexicon search
    bool bestPath = true; // -bestpath: a best-path search of the word lattice
    int frameStep = 1; // -ds: evaluate every Nth frame

    bool operator==(const SearchSettings &other) const;
};

// PocketSphinx's own defaults: the full search.
SearchSettings accurateSearch();
// The service's defaults.
SearchSettings fastSearch();

// The decoder's arguments for these settings ("-maxhmmpf", "3000", ...).
std::vector<std::string> decoderArguments(const SearchSettings &settings);
// The same on one line, for the log.
std::string describeSearch(const SearchSettings &settings);

} // namespace speech
