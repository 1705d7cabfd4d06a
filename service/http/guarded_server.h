#pragma once

#include "service/http/service_limits.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>

namespace speech {

// cpp-httplib's server with the limits it lacks, added through its public
// hooks only: its task queue (a bounded one of ours, which also counts the
// connections of each client), its pre-routing handler and logger (which
// mark where each request stands), and a watchdog thread that cuts off a
// connection whose request does not arrive in time or whose head grows past
// its limit. The library reads, parses, routes and answers every request.
class GuardedHttpServer : public httplib::Server
{
public:
    // Called for a connection refused before the library read a request
    // (too many connections, a head cut off before it was whole); returns
    // the JSON body of the refusal.
    using Refusal
        = std::function<std::string(const std::string &address, int status, const char *reason)>;

    GuardedHttpServer(const ServiceLimits &limits, Refusal refusal);
    ~GuardedHttpServer() override;

    // The socket the library listens on, once bound: new connections are
    // told from older ones by their local port.
    void listeningOn(int listenSocket);

    enum class Cut { None, HeadTooLarge, TimedOut };
    // Inside a handler, the error handler or the logger: whether the
    // connection's request was cut short.
    static Cut currentCut();
    // Inside the error handler: the library gave up on the request because
    // nothing came within its read timeout (it says 400 for that), rather
    // than because what came was malformed.
    static bool readTimedOut();
    // Inside the logger: the request was cut off and answered (and logged
    // through the refusal) by the guard; the library's reply never went out.
    static bool repliedForLibrary();
    // Inside a handler: the rest of the body is not read; the connection
    // ends after the reply.
    static void closeAfterReply();

    // From the pre-routing handler: the head is whole. Returns 431 when it
    // has more header lines or bytes than allowed, else 0; the body is
    // still on the request's time.
    int headReceived(const httplib::Request &req) const;
    // From a handler: the whole request is in; its time no longer runs.
    static void requestReceived();
    // From the logger: the reply is out; the next request's time begins.
    static void replySent();

    struct Connection;

private:
    class Queue;
    friend class Queue;

    std::shared_ptr<Connection> accepted();
    bool admit(const std::string &client);
    void closed(const std::shared_ptr<Connection> &connection);
    void refuse(int sock, const std::string &address, int status, const char *reason);
    void watch();
    void cut(Connection &connection, Cut why);
    bool tooSlow(const Connection &connection, std::chrono::steady_clock::time_point now) const;

    const ServiceLimits limits_;
    const Refusal refusal_;
    int listenSocket_ = -1;
    int listenPort_ = -1;
    ino_t listenInode_ = 0;

    std::mutex mutex_; // guards everything below and each connection's state
    std::map<std::string, size_t> perClient_; // open connections by client (see clientOf)
    std::map<ino_t, std::shared_ptr<Connection>> open_; // by the socket's inode
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread watchdog_;
};

} // namespace speech
