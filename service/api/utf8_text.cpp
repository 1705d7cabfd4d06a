#include "service/api/utf8_text.h"

namespace speech {

namespace {

// The length of the well-formed sequence at `i`, or 0.
size_t sequenceAt(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80; // the second byte's range, which rules out overlong forms,
    unsigned char high = 0xbf; // surrogates and code points past U+10FFFF
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf)
            return 0;
    }
    return length;
}

} // namespace

std::string toValidUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = sequenceAt(text, i);
        if (length == 0) {
            out += "\xef\xbf\xbd";
            ++i;
        } else {
            out.append(text.data() + i, length);
            i += length;
        }
    }
    return out;
}

} // namespace speech
