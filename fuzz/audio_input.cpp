// The speech service's reading of a request's audio: a WAV header or raw samples.
#include "service/recognition/audio_input.h"
#include "fuzzcheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    const speech::AudioInput audio = speech::readAudio(in);
    if (!audio.ok) {
        // Refused: why, and no samples.
        FUZZ_CHECK(audio.hadWavHeader);
        FUZZ_CHECK(!audio.error.empty());
        FUZZ_CHECK(audio.samples.empty());
        return 0;
    }
    FUZZ_CHECK(audio.error.empty());
    if (!audio.hadWavHeader) {
        FUZZ_CHECK(audio.samples.size() == size / 2);
        for (size_t i = 0; i < audio.samples.size(); ++i)
            FUZZ_CHECK(uint16_t(audio.samples[i]) == uint16_t(data[2 * i] | data[2 * i + 1] << 8));
    } else {
        // The samples lie in the bytes, after the header.
        FUZZ_CHECK(audio.samples.size() <= (size - 12) / 2);
    }
    // The samples written out as a WAV file read back unchanged.
    const speech::AudioInput again = speech::readAudio(speech::makeWav(audio.samples));
    FUZZ_CHECK(again.ok && again.hadWavHeader);
    FUZZ_CHECK(again.samples == audio.samples);
    return 0;
}
