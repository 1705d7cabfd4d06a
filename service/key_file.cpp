#include "key_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace speech {

namespace {

// Closes the descriptor however the reading ends.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::optional<std::string> readKeyFile(
    const std::string &path, std::string &warning, std::string &error)
{
    // One descriptor for the checks and the reading, so that the file read is
    // the file checked; not blocking, so that a FIFO planted there cannot
    // hold the start.
    const Descriptor file { ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) };
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "the key file " + path + " is not a regular file";
        return std::nullopt;
    }
    // Whoever owns the file can change the key and so forge tokens.
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        error = "the key file " + path + " belongs to another user (uid "
            + std::to_string(st.st_uid) + "); it must belong to the service's user or root";
        return std::nullopt;
    }
    std::string key(kMaxKeyFileBytes + 1, '\0');
    size_t got = 0;
    while (got < key.size()) {
        const ssize_t n = ::read(file.fd, key.data() + got, key.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read the key file " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    key.resize(got);
    std::optional<std::string> checked = keyFromBytes(std::move(key), path, error);
    if (checked && (st.st_mode & (S_IRGRP | S_IROTH)))
        warning = "the key file " + path
            + " may be read by other users; make it readable by its owner only (chmod 600)";
    return checked;
}

std::optional<std::string> keyFromBytes(
    std::string key, const std::string &path, std::string &error)
{
    if (key.size() > kMaxKeyFileBytes) {
        error = "the key file " + path + " holds more than 4096 bytes";
        return std::nullopt;
    }
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
        key.pop_back();
    if (key.empty()) {
        error = "the key file " + path + " is empty";
        return std::nullopt;
    }
    if (key.size() < kMinKeyBytes) {
        error = "the key in " + path + " is " + std::to_string(key.size())
            + " bytes long; a key needs at least " + std::to_string(kMinKeyBytes)
            + " (make one with: openssl rand -hex 32)";
        return std::nullopt;
    }
    return key;
}

} // namespace speech
