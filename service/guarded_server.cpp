#include "guarded_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <malloc.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace speech {

namespace {

using Clock = std::chrono::steady_clock;

// Set for the request a worker is serving; handlers run on the same thread.
struct RequestState
{
    GuardedHttpServer::Cut cut = GuardedHttpServer::Cut::None;
    bool closeAfterReply = false;
};
thread_local RequestState tlsRequest;
// Set while a task runs on the accepting thread because the queue is full.
thread_local bool tlsShed = false;

// After a request that large, freed memory goes back to the system at once.
constexpr size_t kTrimAfterBytes = 1024 * 1024;
// How long the rest of a refused body is read and dropped, so that the
// client gets to read the refusal instead of a reset connection.
constexpr auto kLingerTime = std::chrono::seconds(2);

int pollUntil(int sock, short events, Clock::time_point until)
{
    for (;;) {
        // Rounded up, so that a wait up to a deadline does not end just before it.
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p { sock, events, 0 };
        const int r = ::poll(&p, 1, int(std::clamp<long long>(left, 0, INT_MAX)));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

std::string numericAddress(const sockaddr_storage &addr, socklen_t len, int *port = nullptr)
{
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    if (::getnameinfo(reinterpret_cast<const sockaddr *>(&addr), len, host, sizeof host, service,
            sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
        != 0)
        return {};
    if (port)
        *port = std::atoi(service);
    return host;
}

std::string peerAddress(int sock, int *port = nullptr)
{
    sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (::getpeername(sock, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return {};
    return numericAddress(addr, len, port);
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}

// A connection's transport: the library reads and writes every request
// through it. It counts the head (request line and headers) and stops
// reading once the head or the time for the whole request runs out.
class GuardedStream final : public httplib::Stream
{
public:
    GuardedStream(int sock, const ServiceLimits &limits, time_t readTimeoutSec,
        time_t writeTimeoutSec, Clock::time_point deadline)
        : sock_(sock)
        , limits_(limits)
        , readTimeout_(readTimeoutSec)
        , writeTimeout_(writeTimeoutSec)
        , deadline_(deadline)
    { }

    bool is_readable() const override { return pos_ < end_ || waitReadable(); }
    bool is_writable() const override
    {
        return pollUntil(sock_, POLLOUT, Clock::now() + writeTimeout_) > 0;
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (pos_ == end_) {
            if (!waitReadable())
                return -1;
            ssize_t n;
            do
                n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            pos_ = 0;
            end_ = size_t(n);
        }
        const size_t n = std::min(size, end_ - pos_);
        if (inHead_ && !countHead(buffer_ + pos_, n)) {
            tlsRequest.cut = GuardedHttpServer::Cut::HeadTooLarge;
            return -1;
        }
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        received_ += n;
        return ssize_t(n);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        ssize_t n;
        do
            n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        if (n > 0)
            written_ += size_t(n);
        return n;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        ip = peerAddress(sock_, &port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage addr {};
        socklen_t len = sizeof addr;
        if (::getsockname(sock_, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            ip = numericAddress(addr, len, &port);
    }
    socket_t socket() const override { return sock_; }

    size_t received() const { return received_; }
    size_t written() const { return written_; }

private:
    bool waitReadable() const
    {
        const auto now = Clock::now();
        if (now < deadline_
            && pollUntil(sock_, POLLIN, std::min(now + readTimeout_, deadline_)) > 0)
            return true;
        if (Clock::now() >= deadline_)
            tlsRequest.cut = GuardedHttpServer::Cut::TimedOut;
        return false;
    }

    // False once the head is larger or has more lines than allowed.
    bool countHead(const char *data, size_t n)
    {
        for (size_t i = 0; i < n && inHead_; ++i) {
            if (++headBytes_ > limits_.maxHeaderBytes)
                return false;
            if (data[i] == '\n') {
                // An empty line after the request line ends the head.
                if (lineLength_ == 0 && lines_ > 0)
                    inHead_ = false;
                else if (++lines_ > limits_.maxHeaderCount + 1)
                    return false;
                lineLength_ = 0;
            } else if (data[i] != '\r') {
                ++lineLength_;
            }
        }
        return true;
    }

    const int sock_;
    const ServiceLimits &limits_;
    const std::chrono::seconds readTimeout_;
    const std::chrono::seconds writeTimeout_;
    const Clock::time_point deadline_;
    char buffer_[16 * 1024];
    size_t pos_ = 0;
    size_t end_ = 0;
    bool inHead_ = true;
    size_t headBytes_ = 0;
    size_t lines_ = 0;
    size_t lineLength_ = 0;
    size_t received_ = 0;
    size_t written_ = 0;
};

// The library's thread pool queues without bound; this one keeps at most
// `maxWaiting` connections waiting and refuses the next at once.
class BoundedTaskQueue final : public httplib::TaskQueue
{
public:
    BoundedTaskQueue(size_t threads, size_t maxWaiting)
        : maxWaiting_(maxWaiting)
    {
        for (size_t i = 0; i < threads; ++i)
            threads_.emplace_back([this] { work(); });
    }
    ~BoundedTaskQueue() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (jobs_.size() < maxWaiting_) {
                jobs_.push_back(std::move(fn));
                ready_.notify_one();
                return;
            }
        }
        // The task only hands over its socket; marked, it refuses the
        // connection without reading from it.
        tlsShed = true;
        fn();
        tlsShed = false;
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread &t : threads_) {
            if (t.joinable())
                t.join();
        }
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
            }
            fn();
        }
    }

    const size_t maxWaiting_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable ready_;
};

} // namespace

GuardedHttpServer::GuardedHttpServer(const ServiceLimits &limits, Refusal refusal)
    : limits_(limits)
    , refusal_(std::move(refusal))
{
    const size_t threads = limits_.connectionThreads;
    new_task_queue = [threads] { return new BoundedTaskQueue(threads, threads); };
}

GuardedHttpServer::Cut GuardedHttpServer::currentCut()
{
    return tlsRequest.cut;
}

void GuardedHttpServer::closeAfterReply()
{
    tlsRequest.closeAfterReply = true;
}

bool GuardedHttpServer::admit(const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = connections_.find(address);
    if (limits_.maxConnectionsPerClient && it != connections_.end()
        && it->second >= limits_.maxConnectionsPerClient)
        return false;
    ++connections_[address];
    return true;
}

void GuardedHttpServer::leave(const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = connections_.find(address);
    if (it != connections_.end() && --it->second == 0)
        connections_.erase(it);
}

void GuardedHttpServer::refuse(
    socket_t sock, const std::string &address, int status, const char *reason)
{
    const std::string body = refusal_(address, status, reason);
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status)
        + "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    // Never waits: the accepting thread may be the one sending.
    (void)::send(sock, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock)
{
    const std::string address = peerAddress(sock);
    bool ok = false;
    if (tlsShed) {
        refuse(sock, address, 503, "the service has more connections than it can take");
    } else if (!admit(address)) {
        refuse(sock, address, 503, "too many connections from this address");
    } else {
        bool linger = false;
        for (size_t left = keep_alive_max_count_; left > 0; --left) {
            const auto start = Clock::now();
            const auto deadline = start + std::chrono::seconds(limits_.requestTimeoutSeconds);
            // An idle connection waits for its next request no longer than
            // the keep-alive time, and not at all once the server stops.
            const auto idleUntil
                = std::min(deadline, start + std::chrono::seconds(keep_alive_timeout_sec_));
            int ready = 0;
            while (ready == 0 && svr_sock_ != INVALID_SOCKET && Clock::now() < idleUntil)
                ready = pollUntil(sock, POLLIN,
                    std::min(idleUntil, Clock::now() + std::chrono::milliseconds(100)));
            if (ready <= 0 || svr_sock_ == INVALID_SOCKET)
                break;

            tlsRequest = RequestState();
            GuardedStream stream(sock, limits_, read_timeout_sec_, write_timeout_sec_, deadline);
            bool clientCloses = false;
            ok = process_request(stream, left == 1, clientCloses, nullptr);
            const Cut cut = tlsRequest.cut;
            // Cut off in the request line: the library had nothing to answer.
            if (cut != Cut::None && stream.written() == 0 && stream.received() > 0)
                refuse(sock, address, cut == Cut::TimedOut ? 408 : 431,
                    cut == Cut::TimedOut ? "the request did not arrive in time"
                                         : "the request line is too long");
            if (stream.received() > kTrimAfterBytes)
                malloc_trim(0);
            if (cut != Cut::None || tlsRequest.closeAfterReply) {
                linger = true;
                break;
            }
            if (!ok || clientCloses)
                break;
        }
        // Still counted against its address while the rest of its request is dropped.
        if (linger) {
            ::shutdown(sock, SHUT_WR);
            char sink[16 * 1024];
            const auto until = Clock::now() + kLingerTime;
            while (pollUntil(sock, POLLIN, until) > 0 && ::recv(sock, sink, sizeof sink, 0) > 0) { }
        }
        leave(address);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace speech
