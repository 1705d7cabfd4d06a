#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace speech {

// Client-supplied text made safe for one log line: control characters,
// blanks, backslashes and bytes beyond ASCII become \xNN escapes, so a
// crafted path can neither end the line nor pose as another field. At most
// `maxBytes` of the text are kept.
std::string escapeForLog(std::string_view text, size_t maxBytes = 200);

// One reply's line: "METHOD PATH status=N err_no=N audio_s=N.NN decode_ms=N", "-" for what is
// not known (a negative number). The path only: a token request's query holds the secret.
std::string accessLine(std::string_view method, std::string_view path, int status, int errNo,
    double audioSeconds, long long decodeMs);
// The line of a connection refused before a request was read.
std::string refusedLine(std::string_view address, int status, const char *reason);

// The access log on stderr, one whole line at a time from any thread.
class AccessLog
{
public:
    void write(const std::string &line);

private:
    std::mutex mutex_;
};

} // namespace speech
