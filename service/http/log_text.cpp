#include "service/http/log_text.h"

namespace speech {

std::string escapeForLog(std::string_view text, size_t maxBytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size() && i < maxBytes; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c > ' ' && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    if (text.size() > maxBytes)
        out += "...";
    return out;
}

} // namespace speech
