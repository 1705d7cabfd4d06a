#pragma once

#include <string>
#include <string_view>

namespace speech {

// The text with every byte that is not part of a well-formed UTF-8 sequence
// (stray continuation bytes, truncated, overlong or surrogate sequences,
// code points beyond U+10FFFF) replaced by U+FFFD; valid text is unchanged.
std::string toValidUtf8(std::string_view text);

} // namespace speech
