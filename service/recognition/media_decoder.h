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

// The container formats (ffmpeg's demuxers) the decoder may read: each holds
// its own audio. Formats that name other files or addresses (playlists,
// concatenation lists, image sequences, manifests) are not among them.
extern const char *const kAllowedDemuxers;

// Decodes a media file of one of the allowed formats into 16 kHz mono
// samples, in a child process: a file that crashes or hangs the decoder ends
// that child only. The child reads the file from its standard input and may
// open no other file or address. It is killed when it takes longer than the
// limit or gives more audio than allowed.
DecodedMedia decodeMedia(std::string_view file, const DecodeLimits &limits);
// The same for a file already in a descriptor (a memory file being written
// while the upload arrives); read from its start, left open.
DecodedMedia decodeMediaFile(int fd, const DecodeLimits &limits);

} // namespace speech
