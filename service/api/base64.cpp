#include "service/api/base64.h"

#include <openssl/evp.h>

namespace speech {

namespace {

bool isAlphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+'
        || c == '/';
}

} // namespace

std::string base64Encode(std::string_view bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    if (bytes.empty())
        return out;
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    // EVP_DecodeBlock skips blanks and accepts "=" in odd places, so the
    // structure is checked here first.
    size_t dataLen = text.size();
    while (dataLen > 0 && text[dataLen - 1] == '=')
        --dataLen;
    const size_t padding = text.size() - dataLen;
    if (padding > 2)
        return std::nullopt;
    for (size_t i = 0; i < dataLen; ++i) {
        if (!isAlphabet(text[i]))
            return std::nullopt;
    }
    const size_t rest = dataLen % 4;
    if (rest == 1)
        return std::nullopt;
    if (padding > 0 && (dataLen + padding) % 4 != 0)
        return std::nullopt;

    std::string padded(text.substr(0, dataLen));
    if (rest != 0)
        padded.append(4 - rest, '=');
    if (padded.empty())
        return std::string();

    std::string out(padded.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(padded.data()), static_cast<int>(padded.size()));
    if (n < 0)
        return std::nullopt;
    // EVP_DecodeBlock counts the zero bytes that stand for the padding.
    const size_t dropped = rest == 0 ? 0 : 4 - rest;
    out.resize(static_cast<size_t>(n) - dropped);
    return out;
}

} // namespace speech
