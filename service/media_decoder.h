#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace speech {

struct DecodeLimits
{
    std::chrono::seconds time { 120 }; // for the whole decoding
    size_t maxSamples = size_t(3) * 3600 * 16000; // decoded audio beyond this is refused
    std::string program = "ffmpeg";
};

struct DecodedMedia
{
    enum class Status { Ok, NotAudio, TooLong, TimedOut, NoDecoder };
    Status status = Status::NotAudio;
    std::vector<int16_t> samples; // 16 kHz mono
    std::string error; // for the client, when not Ok
};

// Decodes a media file of any format ffmpeg reads into 16 kHz mono samples,
// in a child process: a file that crashes or hangs the decoder ends that
// child only. The child is killed when it takes longer than the limit or
// gives more audio than allowed.
DecodedMedia decodeMedia(std::string_view file, const DecodeLimits &limits);

} // namespace speech
