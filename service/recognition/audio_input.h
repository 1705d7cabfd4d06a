#pragma once

#include "protocol/speechprotocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace speech {

constexpr int kSampleRate = speechprotocol::kSampleRate;

// The audio of one request as the recogniser takes it: 16 kHz mono samples.
struct AudioInput
{
    bool ok = false;
    bool hadWavHeader = false;
    std::string error; // why the header was refused, when !ok
    std::vector<int16_t> samples;

    double seconds() const { return static_cast<double>(samples.size()) / kSampleRate; }
};

// Reads the bytes of a request. Bytes that begin with a RIFF/WAVE header must
// declare 16 kHz mono 16-bit PCM and sizes that fit the bytes; anything else
// is taken as raw 16 kHz mono 16-bit little-endian PCM (a trailing odd byte
// is dropped).
AudioInput readAudio(std::string_view bytes);

// Writes a canonical 44-byte-header WAV file image; used by tools and tests.
std::string makeWav(const std::vector<int16_t> &samples, int sampleRate = kSampleRate,
    int channels = 1, int bitsPerSample = 16);

} // namespace speech
