#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace speech {

// The shortest key a key file may hold: 128 bits of randomness as raw bytes;
// the keys made by hand (openssl rand -hex 32) and per run are 64 characters.
constexpr size_t kMinKeyBytes = 16;
// A key is a line of text; anything larger is the wrong file.
constexpr size_t kMaxKeyFileBytes = 4096;

// Reads the signing key from a file, so that it never shows in the process
// list; a final line break is not part of the key. The file is opened once
// and checked on the open descriptor: a regular file, owned by this user or
// root and writable by nobody else, holding at least kMinKeyBytes. `warning`
// says when users other than the owner may read it.
std::optional<std::string> readKeyFile(
    const std::string &path, std::string &warning, std::string &error);

// The key in the bytes read from the key file at path (at most kMaxKeyFileBytes + 1 of them):
// its final line break dropped, and its size checked.
std::optional<std::string> keyFromBytes(
    std::string bytes, const std::string &path, std::string &error);

} // namespace speech
