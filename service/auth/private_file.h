#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

namespace speech {

// A file of settings that grant access (the signing key, the clients).
struct PrivateFile
{
    std::string text;
    mode_t mode = 0;
};

// Reads the file at `path`, checked on the one descriptor it is read from:
// a regular file (a FIFO or device put there is refused without waiting on
// it), owned by this user or root and writable by nobody else, since whoever
// can change it can grant themselves access, and at most `maxBytes` long.
// `what` names the file in the error.
std::optional<PrivateFile> readPrivateFile(
    const std::string &path, const std::string &what, size_t maxBytes, std::string &error);

// Whether users other than the owner may read a file of this mode.
bool othersMayRead(mode_t mode);

} // namespace speech
