#include "service/recognition/search_settings.h"

#include <cstdio>

namespace speech {

namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

} // namespace

bool SearchSettings::operator==(const SearchSettings &o) const
{
    return maxHmmsPerFrame == o.maxHmmsPerFrame && maxWordsPerFrame == o.maxWordsPerFrame
        && beam == o.beam && wordBeam == o.wordBeam && phoneBeam == o.phoneBeam
        && flatPass == o.flatPass && bestPath == o.bestPath && frameStep == o.frameStep;
}

SearchSettings accurateSearch()
{
    return {};
}

// The fastest setting within a point of the full search on the tuning set: a third of its
// decoding time there. On long clear speech, where the limits seldom bind and the flat pass
// finds words the first pass missed, it takes two thirds of the time at two points more word
// errors (see the README); --search accurate keeps them.
SearchSettings fastSearch()
{
    SearchSettings s;
    s.maxHmmsPerFrame = 3000;
    s.maxWordsPerFrame = 10;
    s.flatPass = false;
    return s;
}

std::vector<std::string> decoderArguments(const SearchSettings &s)
{
    return { "-maxhmmpf", std::to_string(s.maxHmmsPerFrame), "-maxwpf",
        std::to_string(s.maxWordsPerFrame), "-beam", number(s.beam), "-wbeam", number(s.wordBeam),
        "-pbeam", number(s.phoneBeam), "-fwdflat", s.flatPass ? "yes" : "no", "-bestpath",
        s.bestPath ? "yes" : "no", "-ds", std::to_string(s.frameStep) };
}

std::string describeSearch(const SearchSettings &settings)
{
    std::string line;
    for (const std::string &word : decoderArguments(settings))
        line += (line.empty() ? "" : " ") + word;
    return line;
}

} // namespace speech
