#pragma once

#include <string>
#include <string_view>

namespace speech {

// Client-supplied text made safe for one log line: control characters,
// blanks, backslashes and bytes beyond ASCII become \xNN escapes, so a
// crafted path can neither end the line nor pose as another field. At most
// `maxBytes` of the text are kept.
std::string escapeForLog(std::string_view text, size_t maxBytes = 200);

} // namespace speech
