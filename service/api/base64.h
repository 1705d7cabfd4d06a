#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace speech {

// Standard alphabet with "=" padding, no line breaks.
std::string base64Encode(std::string_view bytes);

// Strict decoding: only the standard alphabet, padding only at the end.
// Missing padding is tolerated; whitespace and any other character are not.
// Returns nothing when the text is not valid Base64.
std::optional<std::string> base64Decode(std::string_view text);

} // namespace speech
