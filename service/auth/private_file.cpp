#include "service/auth/private_file.h"

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

std::optional<PrivateFile> readPrivateFile(
    const std::string &path, const std::string &what, size_t maxBytes, std::string &error)
{
    // Not blocking, so that a FIFO planted there cannot hold the caller.
    const Descriptor file { ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) };
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        error = "cannot read the " + what + " " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "the " + what + " " + path + " is not a regular file";
        return std::nullopt;
    }
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        error = "the " + what + " " + path + " belongs to another user (uid "
            + std::to_string(st.st_uid) + "); it must belong to the service's user or root";
        return std::nullopt;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        error = "the " + what + " " + path
            + " may be changed by other users; make it writable by its owner only (chmod 600)";
        return std::nullopt;
    }
    PrivateFile result;
    result.mode = st.st_mode;
    std::string &text = result.text;
    text.resize(maxBytes + 1);
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(file.fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read the " + what + " " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    text.resize(got);
    if (text.size() > maxBytes) {
        error = "the " + what + " " + path + " holds more than " + std::to_string(maxBytes)
            + " bytes";
        return std::nullopt;
    }
    return result;
}

bool othersMayRead(mode_t mode)
{
    return (mode & (S_IRGRP | S_IROTH)) != 0;
}

} // namespace speech
