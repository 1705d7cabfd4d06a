#pragma once

#include "service_limits.h"

#include <httplib.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace speech {

// cpp-httplib's server with the limits it lacks, added through its own
// seams: a bounded task queue of many connection workers, a bound on the
// connections of one address, and every connection read through a stream of
// ours (as the library's TLS server reads through its own) that bounds the
// size and number of header lines and the time to receive a whole request.
// The library still parses, routes and answers every request.
class GuardedHttpServer : public httplib::Server
{
public:
    // Called for a connection refused before any request was read (too many
    // connections, a head cut off before it was whole); returns the JSON body
    // of the refusal.
    using Refusal
        = std::function<std::string(const std::string &address, int status, const char *reason)>;

    GuardedHttpServer(const ServiceLimits &limits, Refusal refusal);

    enum class Cut { None, HeadTooLarge, TimedOut };
    // Inside a handler, the error handler or the logger: whether the stream
    // cut the request being answered short.
    static Cut currentCut();
    // Inside a handler: the rest of the body is not read; the connection
    // ends after the reply.
    static void closeAfterReply();

private:
    bool process_and_close_socket(socket_t sock) override;
    bool admit(const std::string &address);
    void leave(const std::string &address);
    void refuse(socket_t sock, const std::string &address, int status, const char *reason);

    const ServiceLimits limits_;
    const Refusal refusal_;
    std::mutex mutex_;
    std::map<std::string, size_t> connections_; // open connections by client address
};

} // namespace speech
