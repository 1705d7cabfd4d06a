#include "textwidth.h"

namespace subtitles {

std::vector<CodePoint> decodeUtf8(const std::string &text)
{
    std::vector<CodePoint> points;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t value = lead;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        if (length > 1) {
            value = lead & (0x7F >> length);
            bool wellFormed = i + length <= text.size();
            for (std::size_t k = 1; wellFormed && k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                wellFormed = (next & 0xC0) == 0x80;
                value = (value << 6) | (next & 0x3F);
            }
            if (!wellFormed) {
                length = 1;
                value = 0xFFFD;
            }
        } else if (lead >= 0x80) {
            value = 0xFFFD;
        }
        points.push_back({ value, i, length });
        i += length;
    }
    return points;
}

std::size_t codePointCount(const std::string &text)
{
    return decodeUtf8(text).size();
}

bool isCjk(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF)
        || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

bool isCjkPunctuation(char32_t c)
{
    return (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF01 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20)
        || (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65);
}

bool containsCjk(const std::string &text)
{
    for (const CodePoint &point : decodeUtf8(text))
        if (isCjk(point.value))
            return true;
    return false;
}

} // namespace subtitles
