#include "service/recognition/audio_input.h"

#include <cstring>

namespace speech {

namespace {

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void putLe32(std::string &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void putLe16(std::string &out, uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

void copySamples(const unsigned char *p, size_t byteCount, std::vector<int16_t> &out)
{
    const size_t n = byteCount / 2;
    out.resize(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(le16(p + 2 * i));
}

AudioInput refuse(std::string why)
{
    AudioInput a;
    a.hadWavHeader = true;
    a.error = std::move(why);
    return a;
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xfffe;
// A streaming writer that cannot seek back leaves these in the data size.
constexpr uint32_t kUnknownSizeMax = 0xffffffffu;

// What is wrong with a format chunk for the one format taken (16 kHz mono 16-bit PCM), or
// nothing.
std::string formatProblem(const unsigned char *f, uint32_t chunkSize)
{
    uint16_t tag = le16(f);
    const uint16_t channels = le16(f + 2);
    const uint32_t rate = le32(f + 4);
    const uint32_t byteRate = le32(f + 8);
    const uint16_t blockAlign = le16(f + 12);
    const uint16_t bits = le16(f + 14);
    if (tag == kFormatExtensible && chunkSize >= 40) {
        // The sub-format GUID begins with the plain format tag.
        tag = le16(f + 24);
    }
    if (tag != kFormatPcm)
        return "WAV audio is not PCM (format tag " + std::to_string(tag) + ")";
    if (channels != 1)
        return "WAV audio has " + std::to_string(channels) + " channels, 1 is needed";
    if (rate != static_cast<uint32_t>(kSampleRate))
        return "WAV audio is sampled at " + std::to_string(rate) + " Hz, 16000 Hz is needed";
    if (bits != 16)
        return "WAV audio has " + std::to_string(bits) + " bits per sample, 16 are needed";
    if (blockAlign != 2 || byteRate != 2u * kSampleRate)
        return "WAV header block size or byte rate contradicts 16 kHz mono 16-bit";
    return {};
}

// The data chunk's length from what it declares and what follows, or what is wrong with it.
std::string dataLength(uint32_t chunkSize, size_t available, size_t &length)
{
    length = chunkSize;
    if (chunkSize > available) {
        // Writers to a pipe leave 0 or the maximum; any other excess is a lie.
        if (chunkSize != kUnknownSizeMax)
            return "WAV header declares " + std::to_string(chunkSize) + " data bytes but only "
                + std::to_string(available) + " follow";
        length = available;
    } else if (chunkSize == 0 && available > 0) {
        length = available;
    }
    return {};
}

} // namespace

AudioInput readAudio(std::string_view bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t size = bytes.size();

    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        AudioInput a;
        a.ok = true;
        copySamples(data, size, a.samples);
        return a;
    }

    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= size) {
        const unsigned char *chunk = data + pos;
        const uint32_t chunkSize = le32(chunk + 4);
        const size_t bodyStart = pos + 8;
        const size_t available = size - bodyStart;

        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunkSize < 16 || chunkSize > available)
                return refuse("WAV format chunk is truncated");
            if (const std::string problem = formatProblem(data + bodyStart, chunkSize);
                !problem.empty())
                return refuse(problem);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return refuse("WAV data chunk comes before any format chunk");
            size_t length = 0;
            if (const std::string problem = dataLength(chunkSize, available, length);
                !problem.empty())
                return refuse(problem);
            AudioInput a;
            a.ok = true;
            a.hadWavHeader = true;
            copySamples(data + bodyStart, length, a.samples);
            return a;
        } else if (chunkSize > available) {
            return refuse("WAV chunk runs past the end of the audio");
        }
        // Chunks are padded to an even size.
        pos = bodyStart + chunkSize + (chunkSize & 1u);
    }
    return refuse(haveFormat ? "WAV audio has no data chunk" : "WAV audio has no format chunk");
}

std::string makeWav(
    const std::vector<int16_t> &samples, int sampleRate, int channels, int bitsPerSample)
{
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    const uint16_t blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    putLe32(out, 36 + dataBytes);
    out += "WAVEfmt ";
    putLe32(out, 16);
    putLe16(out, kFormatPcm);
    putLe16(out, static_cast<uint16_t>(channels));
    putLe32(out, static_cast<uint32_t>(sampleRate));
    putLe32(out, static_cast<uint32_t>(sampleRate) * blockAlign);
    putLe16(out, blockAlign);
    putLe16(out, static_cast<uint16_t>(bitsPerSample));
    out += "data";
    putLe32(out, dataBytes);
    for (int16_t s : samples)
        putLe16(out, static_cast<uint16_t>(s));
    return out;
}

} // namespace speech
