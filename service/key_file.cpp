#include "key_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace speech {

namespace {

// A key is a line of text; anything larger is the wrong file.
constexpr std::streamsize kMaxKeyFileBytes = 4096;

} // namespace

std::optional<std::string> readKeyFile(
    const std::string &path, std::string &warning, std::string &error)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "the key file " + path + " is not a regular file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string key(size_t(kMaxKeyFileBytes) + 1, '\0');
    if (!in.is_open()) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    in.read(key.data(), kMaxKeyFileBytes + 1);
    key.resize(size_t(in.gcount()));
    if (key.size() > size_t(kMaxKeyFileBytes)) {
        error = "the key file " + path + " holds more than 4096 bytes";
        return std::nullopt;
    }
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
        key.pop_back();
    if (key.empty()) {
        error = "the key file " + path + " is empty";
        return std::nullopt;
    }
    if (st.st_mode & (S_IRGRP | S_IROTH))
        warning = "the key file " + path
            + " may be read by other users; make it readable by its owner only (chmod 600)";
    return key;
}

} // namespace speech
