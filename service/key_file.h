#pragma once

#include <optional>
#include <string>

namespace speech {

// Reads the signing key from a file, so that it never shows in the process
// list; a final line break is not part of the key. `warning` says when
// users other than the owner may read the file.
std::optional<std::string> readKeyFile(
    const std::string &path, std::string &warning, std::string &error);

} // namespace speech
