#include "service/http/access_log.h"

#include <cstdio>

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

std::string accessLine(std::string_view method, std::string_view path, int status, int errNo,
    double audioSeconds, long long decodeMs)
{
    char errText[16] = "-";
    char audio[32] = "-";
    char decode[32] = "-";
    if (errNo >= 0)
        std::snprintf(errText, sizeof errText, "%d", errNo);
    if (audioSeconds >= 0)
        std::snprintf(audio, sizeof audio, "%.2f", audioSeconds);
    if (decodeMs >= 0)
        std::snprintf(decode, sizeof decode, "%lld", decodeMs);
    // Both come from the client, so neither may end the line or fake a field.
    const std::string methodText = method.empty() ? "-" : escapeForLog(method, 16);
    const std::string pathText = path.empty() ? "-" : escapeForLog(path);
    char line[1024];
    std::snprintf(line, sizeof line, "%s %s status=%d err_no=%s audio_s=%s decode_ms=%s\n",
        methodText.c_str(), pathText.c_str(), status, errText, audio, decode);
    return line;
}

std::string refusedLine(std::string_view address, int status, const char *reason)
{
    return "- - status=" + std::to_string(status)
        + " err_no=- audio_s=- decode_ms=- refused=" + escapeForLog(address) + ": " + reason + "\n";
}

void AccessLog::write(const std::string &line)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace speech
