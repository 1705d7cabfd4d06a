#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Json {
class Value;
}

namespace speech {

// A look at a JSON text before it is parsed, so that a body which cannot be
// a request is refused without building a large document: it must be one
// object of at most `maxMembers` members whose values are plain (strings,
// numbers, literals), never arrays or objects. Anything else the scan cannot
// tell (broken syntax, trailing text) is left to the parser. Returns an empty
// text when the body may be parsed, else why not.
std::string flatObjectProblem(std::string_view text, size_t maxMembers);

// A reply body on one line, always valid UTF-8 (bytes that are not become U+FFFD), times in seconds
// as written (three decimals) rather than as the nearest binary fraction's 17 digits.
std::string toJson(const Json::Value &value);

} // namespace speech
