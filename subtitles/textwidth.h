#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace subtitles {

// One code point of UTF-8 text and the bytes it took; malformed bytes count one each, so
// that no input is dropped or makes the count run past the end.
struct CodePoint
{
    char32_t value = 0;
    std::size_t offset = 0;
    std::size_t length = 0;
};

std::vector<CodePoint> decodeUtf8(const std::string &text);
std::size_t codePointCount(const std::string &text);

// Characters of the scripts written without spaces between words (Chinese, Japanese kana,
// Korean, full-width forms): their lines are shorter.
bool isCjk(char32_t c);
// CJK punctuation stays with the character before it rather than starting a token.
bool isCjkPunctuation(char32_t c);
bool containsCjk(const std::string &text);

} // namespace subtitles
