#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace speech {

// The members a live piece carries beside the recognition request's: the session (empty for
// a new one), the samples of the utterance sent before, and whether the piece ends it.
struct LiveMembers
{
    std::string session;
    uint64_t offset = 0;
    bool end = false;
    // Why the members are refused; the others are left as they were.
    std::string problem;
};

// Reads them from a request body, JSON read as the recognition request is; a body that is not
// one JSON object is refused too.
LiveMembers readLiveMembers(std::string_view body);

} // namespace speech
