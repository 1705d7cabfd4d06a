#pragma once

#include "cues.h"

#include <cstdint>
#include <string>
#include <vector>

namespace subtitles {

// 01:02:03,456 (SubRip) and 01:02:03.456 (WebVTT); hours grow past two digits if they must.
std::string srtTimestamp(std::int64_t ms);
std::string vttTimestamp(std::int64_t ms);

// Numbered cues separated by blank lines.
std::string writeSrt(const std::vector<Cue> &cues);
// The WEBVTT header, then the cues; the text is escaped so that no '<', '&' or "-->" in what
// was said is read as markup or timing.
std::string writeVtt(const std::vector<Cue> &cues);

} // namespace subtitles
