#include "writers.h"

#include <algorithm>
#include <cstdio>

namespace subtitles {

namespace {

std::string timestamp(std::int64_t ms, char separator)
{
    ms = std::max<std::int64_t>(0, ms);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld",
        static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
        static_cast<long long>(ms / 1000 % 60), separator, static_cast<long long>(ms % 1000));
    return text;
}

std::string escapeVtt(const std::string &line)
{
    std::string out;
    for (const char c : line) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

} // namespace

std::string srtTimestamp(std::int64_t ms)
{
    return timestamp(ms, ',');
}

std::string vttTimestamp(std::int64_t ms)
{
    return timestamp(ms, '.');
}

std::string writeSrt(const std::vector<Cue> &cues)
{
    std::string out;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        out += std::to_string(i + 1) + "\n";
        out += srtTimestamp(cues[i].startMs) + " --> " + srtTimestamp(cues[i].endMs) + "\n";
        for (const std::string &line : cues[i].lines)
            out += line + "\n";
        out += "\n";
    }
    return out;
}

std::string writeVtt(const std::vector<Cue> &cues)
{
    std::string out = "WEBVTT\n\n";
    for (const Cue &cue : cues) {
        out += vttTimestamp(cue.startMs) + " --> " + vttTimestamp(cue.endMs) + "\n";
        for (const std::string &line : cue.lines)
            out += escapeVtt(line) + "\n";
        out += "\n";
    }
    return out;
}

} // namespace subtitles
