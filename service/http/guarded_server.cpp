#include "service/http/guarded_server.h"

#include "service/http/client_address.h"
#include "service/http/socket_progress.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace speech {

namespace {

using Clock = std::chrono::steady_clock;

// How often the watchdog looks at the connections that are receiving.
constexpr auto kWatchInterval = std::chrono::milliseconds(20);
// The library reads ahead of the head by up to a buffer or so; the watchdog's
// bound on a head leaves it that much room, the exact count is made once
// the head is whole.
constexpr size_t kReadAheadBytes = 64 * 1024;
// After a request that large, freed memory goes back to the system at once.
constexpr size_t kTrimAfterBytes = 1024 * 1024;
// How long the rest of a refused request is read and dropped, so that the
// client gets to read the refusal instead of a reset connection.
constexpr auto kLingerTime = std::chrono::seconds(2);
// How long one read of the library waits for data; set here rather than
// left to the library's default, so that its time-outs can be told apart.
constexpr int kReadTimeoutSeconds = 5;

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

int localPort(int sock)
{
    sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (::getsockname(sock, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return -1;
    if (addr.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(addr).sin_port);
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(addr).sin6_port);
    return -1;
}

std::string peerAddress(int sock)
{
    sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (::getpeername(sock, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return {};
    return numericAddress(addr, len);
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

// Reads and drops what the client still sends, for at most the linger
// time, so that closing does not reset the connection under its reply. Runs
// before the library shuts the socket: data arriving after that resets it.
void linger(int sock, bool readingShut)
{
    // Once the reading side is shut, a FIN of ours would make more data a reset.
    if (!readingShut)
        ::shutdown(sock, SHUT_WR);
    const auto until = Clock::now() + kLingerTime;
    char sink[16 * 1024];
    while (Clock::now() < until) {
        SocketProgress progress;
        if (!socketProgress(sock, progress))
            return;
        if (progress.unread > 0) {
            if (::recv(sock, sink, sizeof sink, MSG_DONTWAIT) < 0 && errno != EAGAIN
                && errno != EINTR)
                return;
            continue;
        }
        if (progress.peerClosed)
            return;
        // With the reading side shut, poll no longer waits for data.
        pollfd p { sock, POLLIN, 0 };
        if (::poll(&p, 1, 10) < 0 && errno != EINTR)
            return;
        if (readingShut)
            ::usleep(10 * 1000);
    }
}

size_t headerLimitBytes(const httplib::Request &req)
{
    // The library adds these to what the client sent.
    static const std::set<std::string> added { "LOCAL_ADDR", "LOCAL_PORT", "REMOTE_ADDR",
        "REMOTE_PORT" };
    // Request line, "Name: value" lines and the empty line, as sent.
    size_t bytes = req.method.size() + 1 + req.target.size() + 1 + req.version.size() + 2 + 2;
    for (const auto &[name, value] : req.headers) {
        if (!added.count(name))
            bytes += name.size() + 2 + value.size() + 2;
    }
    return bytes;
}

size_t headerCount(const httplib::Request &req)
{
    size_t count = req.headers.size();
    for (const char *name : { "LOCAL_ADDR", "LOCAL_PORT", "REMOTE_ADDR", "REMOTE_PORT" })
        count -= std::min(count, req.headers.count(name));
    return count;
}

} // namespace

struct GuardedHttpServer::Connection
{
    enum class Phase { Head, Body, Handling, Cut, Closing };

    GuardedHttpServer *server = nullptr;
    int librarySock = -1; // the library's, closed by it
    int sock = -1; // a duplicate of ours, so that the socket outlives the library's use
    ino_t inode = 0;
    std::string address;
    std::string client; // what its connections are counted against
    // Under the server's mutex:
    Phase phase = Phase::Head;
    Clock::time_point deadline;
    uint64_t headStart = 0; // bytes received before the current head
    Clock::time_point bodyFrom; // when the head was whole
    uint64_t bodyStart = 0; // bytes received by then
    uint64_t bodyLength = 0; // as declared
    bool replied = false; // by the watchdog, which cut the head off
    // Set by the watchdog, read by the connection's worker.
    std::atomic<Cut> cut { Cut::None };
    // The connection's worker only:
    bool closeAfterReply = false;
    bool large = false;
};

namespace {
// The connection a worker serves; handlers run on the same thread.
thread_local GuardedHttpServer::Connection *tlsConnection = nullptr;
} // namespace

// The library's thread pool queues without bound; this one keeps at most
// `maxWaiting` connections waiting and refuses the next at once. It is also
// where the library hands over each new connection, on its accepting thread.
class GuardedHttpServer::Queue final : public httplib::TaskQueue
{
public:
    Queue(GuardedHttpServer &server, size_t threads, size_t maxWaiting)
        : server_(server)
        , maxWaiting_(maxWaiting)
    {
        workers_ = std::vector<Worker>(threads);
        for (Worker &w : workers_)
            threads_.emplace_back([this, &w] { work(w); });
    }
    ~Queue() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        std::shared_ptr<Connection> connection = server_.accepted();
        if (!connection) {
            // Not found among the process's sockets: served without the guards.
            push({ std::move(fn), nullptr });
            return;
        }
        bool full;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            full = jobs_.size() >= maxWaiting_;
        }
        const char *reason = full ? "the service has more connections than it can take"
            : !server_.admit(connection->client) ? "too many connections from this client"
                                                 : nullptr;
        if (reason) {
            // The task only hands over its socket; dropped, it never reads from it.
            server_.refuse(connection->sock, connection->address, 503, reason);
            ::close(connection->librarySock);
            ::shutdown(connection->sock, SHUT_RDWR);
            ::close(connection->sock);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            connection->deadline
                = Clock::now() + std::chrono::seconds(server_.limits_.requestTimeoutSeconds);
            server_.open_[connection->inode] = connection;
        }
        push({ std::move(fn), std::move(connection) });
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            for (Worker *w : idle_)
                w->wake.notify_one();
        }
        for (std::thread &t : threads_) {
            if (t.joinable())
                t.join();
        }
    }

private:
    struct Job
    {
        std::function<void()> fn;
        std::shared_ptr<Connection> connection;
    };

    // A worker that waits for a connection, and the one handed to it.
    struct Worker
    {
        std::condition_variable wake;
        Job job;
        bool handed = false;
    };

    // The worker that went idle last takes the next connection: a steady load keeps to the
    // few threads it needs, whose stacks and per-thread library state (the random generator's,
    // the error queue's) are there already. Waking any idle one instead (a shared condition)
    // walked through the whole pool, and each thread's first connection made the service's
    // memory grow for as long as some thread had not served yet.
    void push(Job job)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (idle_.empty()) {
            jobs_.push_back(std::move(job));
            return;
        }
        Worker *w = idle_.back();
        idle_.pop_back();
        w->job = std::move(job);
        w->handed = true;
        w->wake.notify_one();
    }

    void work(Worker &w)
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!jobs_.empty()) {
                    job = std::move(jobs_.front());
                    jobs_.pop_front();
                } else {
                    if (stopping_)
                        return;
                    idle_.push_back(&w);
                    w.wake.wait(lock, [&] { return stopping_ || w.handed; });
                    if (!w.handed) {
                        idle_.erase(std::find(idle_.begin(), idle_.end(), &w));
                        return;
                    }
                    job = std::move(w.job);
                    w.handed = false;
                }
            }
            tlsConnection = job.connection.get();
            job.fn();
            tlsConnection = nullptr;
            if (job.connection)
                server_.closed(job.connection);
        }
    }

    GuardedHttpServer &server_;
    const size_t maxWaiting_;
    std::vector<Worker> workers_;
    std::vector<std::thread> threads_;
    std::deque<Job> jobs_; // waiting for a worker
    std::vector<Worker *> idle_; // the one that went idle last at the back
    bool stopping_ = false;
    std::mutex mutex_;
};

GuardedHttpServer::GuardedHttpServer(const ServiceLimits &limits, Refusal refusal)
    : limits_(limits)
    , refusal_(std::move(refusal))
{
    const size_t threads = limits_.connectionThreads;
    new_task_queue = [this, threads] { return new Queue(*this, threads, threads); };
    // A reply's head and body go out in two writes; without this the second
    // waits for the client's delayed acknowledgement of the first, about
    // 40 ms for every request on a kept-alive connection.
    set_tcp_nodelay(true);
    set_read_timeout(kReadTimeoutSeconds, 0);
    watchdog_ = std::thread([this] { watch(); });
}

GuardedHttpServer::~GuardedHttpServer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    watchdog_.join();
}

void GuardedHttpServer::listeningOn(int listenSocket)
{
    struct stat st
    {
    };
    listenSocket_ = listenSocket;
    listenPort_ = localPort(listenSocket);
    if (::fstat(listenSocket, &st) == 0)
        listenInode_ = st.st_ino;
}

// The library does not say which socket it accepted, but it accepts on one
// thread and hands each connection over before the next: the new one is the
// only socket on the listening port that is not known yet.
std::shared_ptr<GuardedHttpServer::Connection> GuardedHttpServer::accepted()
{
    if (listenPort_ < 0)
        return nullptr;
    // Only the open descriptors are looked at, however high the file limit is.
    std::vector<int> open;
    if (DIR *dir = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(dir)) {
            int fd = -1;
            const char *name = entry->d_name;
            const auto end = name + std::char_traits<char>::length(name);
            if (std::from_chars(name, end, fd).ptr == end && fd != ::dirfd(dir))
                open.push_back(fd);
        }
        ::closedir(dir);
    }
    for (const int fd : open) {
        struct stat st
        {
        };
        if (fd == listenSocket_ || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (st.st_ino == listenInode_ || open_.count(st.st_ino))
                continue;
        }
        if (localPort(fd) != listenPort_)
            continue;
        auto connection = std::make_shared<Connection>();
        connection->server = this;
        connection->librarySock = fd;
        connection->sock = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        connection->inode = st.st_ino;
        connection->address = peerAddress(fd);
        connection->client = clientOf(connection->address);
        if (connection->sock < 0)
            return nullptr;
        return connection;
    }
    return nullptr;
}

bool GuardedHttpServer::admit(const std::string &client)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = perClient_.find(client);
    if (limits_.maxConnectionsPerClient && it != perClient_.end()
        && it->second >= limits_.maxConnectionsPerClient)
        return false;
    ++perClient_[client];
    return true;
}

void GuardedHttpServer::closed(const std::shared_ptr<Connection> &connection)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connection->phase = Connection::Phase::Closing;
    }
    ::close(connection->sock);
    if (connection->large)
        malloc_trim(0);
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(connection->inode);
    const auto it = perClient_.find(connection->client);
    if (it != perClient_.end() && --it->second == 0)
        perClient_.erase(it);
}

void GuardedHttpServer::refuse(int sock, const std::string &address, int status, const char *reason)
{
    const std::string body = refusal_(address, status, reason);
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status)
        + "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    // Never waits: the accepting thread or the watchdog may be the one sending.
    (void)::send(sock, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Under the mutex.
void GuardedHttpServer::cut(Connection &connection, Cut why)
{
    const bool inHead = connection.phase == Connection::Phase::Head;
    connection.phase = Connection::Phase::Cut;
    connection.cut = why;
    connection.replied = true;
    // The library cannot answer a head it has not got whole, nor anything
    // once the socket's reading side is shut (it takes that for a closed
    // connection): this reply is the only one.
    refuse(connection.sock, connection.address, why == Cut::TimedOut ? 408 : 431,
        why == Cut::TimedOut ? "the request did not arrive in time"
                             : "the request head is too large");
    // Shutting the reading side stops the library's reads. A body's sender
    // gets its rest dropped (see replySent); a head's is not waited for.
    ::shutdown(connection.sock, inHead ? SHUT_RDWR : SHUT_RD);
}

void GuardedHttpServer::watch()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, kWatchInterval);
        const auto now = Clock::now();
        for (auto &[inode, connection] : open_) {
            Connection &c = *connection;
            if (c.phase != Connection::Phase::Head && c.phase != Connection::Phase::Body)
                continue;
            SocketProgress progress;
            if (now >= c.deadline) {
                // A connection that has not begun another request is only
                // closed, as the library closes one idle for too long.
                if (c.phase == Connection::Phase::Head && socketProgress(c.sock, progress)
                    && progress.received <= c.headStart) {
                    c.phase = Connection::Phase::Cut;
                    c.replied = true;
                    ::shutdown(c.sock, SHUT_RDWR);
                } else {
                    cut(c, Cut::TimedOut);
                }
                continue;
            }
            if (c.phase == Connection::Phase::Head && socketProgress(c.sock, progress)
                && progress.received - progress.unread
                    > c.headStart + limits_.maxHeaderBytes + kReadAheadBytes)
                cut(c, Cut::HeadTooLarge);
            else if (c.phase == Connection::Phase::Body && c.bodyLength > 0 && tooSlow(c, now))
                cut(c, Cut::TimedOut);
        }
    }
}

// Under the mutex: a body that has had the request's time and since then
// arrived slower than the least rate.
bool GuardedHttpServer::tooSlow(const Connection &c, Clock::time_point now) const
{
    const auto grace = std::chrono::seconds(limits_.requestTimeoutSeconds);
    if (now <= c.bodyFrom + grace)
        return false;
    SocketProgress progress;
    if (!socketProgress(c.sock, progress))
        return false;
    const double late = std::chrono::duration<double>(now - c.bodyFrom - grace).count();
    return double(progress.received - c.bodyStart) < late * double(limits_.minUploadBytesPerSecond);
}

bool GuardedHttpServer::repliedForLibrary()
{
    Connection *c = tlsConnection;
    if (!c)
        return false;
    std::lock_guard<std::mutex> lock(c->server->mutex_);
    return c->replied;
}

GuardedHttpServer::Cut GuardedHttpServer::currentCut()
{
    return tlsConnection ? tlsConnection->cut.load() : Cut::None;
}

bool GuardedHttpServer::readTimedOut()
{
    Connection *c = tlsConnection;
    SocketProgress progress;
    if (!c || !socketProgress(c->sock, progress))
        return false;
    // The kernel counts in its own ticks: a little early is still the time-out.
    constexpr uint32_t kSlackMs = 250;
    return !progress.peerClosed && progress.unread == 0
        && progress.idleMs + kSlackMs >= uint32_t(kReadTimeoutSeconds) * 1000;
}

void GuardedHttpServer::closeAfterReply()
{
    if (tlsConnection)
        tlsConnection->closeAfterReply = true;
}

int GuardedHttpServer::headReceived(const httplib::Request &req) const
{
    if (Connection *c = tlsConnection) {
        uint64_t length = 0;
        if (!req.has_header("Transfer-Encoding")) {
            const std::string text = req.get_header_value("Content-Length");
            std::from_chars(text.data(), text.data() + text.size(), length);
        }
        // Longer bodies are refused before they are read.
        length = std::min<uint64_t>(length, limits_.maxUploadBytes + kUploadFormRoomBytes);
        SocketProgress progress;
        const bool known = socketProgress(c->sock, progress);
        std::lock_guard<std::mutex> lock(c->server->mutex_);
        if (c->phase == Connection::Phase::Head) {
            c->phase = Connection::Phase::Body;
            c->bodyFrom = Clock::now();
            c->bodyStart = known ? progress.received : 0;
            c->bodyLength = length;
            c->deadline
                += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                    double(length) / double(std::max<size_t>(1, limits_.minUploadBytesPerSecond))));
        }
    }
    return headerCount(req) > limits_.maxHeaderCount
            || headerLimitBytes(req) > limits_.maxHeaderBytes
        ? 431
        : 0;
}

void GuardedHttpServer::requestReceived()
{
    if (Connection *c = tlsConnection) {
        std::lock_guard<std::mutex> lock(c->server->mutex_);
        if (c->phase == Connection::Phase::Head || c->phase == Connection::Phase::Body)
            c->phase = Connection::Phase::Handling;
    }
}

void GuardedHttpServer::replySent()
{
    Connection *c = tlsConnection;
    if (!c)
        return;
    bool cutInBody = false;
    {
        std::lock_guard<std::mutex> lock(c->server->mutex_);
        cutInBody = c->phase == Connection::Phase::Cut;
        if (cutInBody || c->closeAfterReply)
            c->phase = Connection::Phase::Cut;
    }
    // The rest of a request refused or cut off is dropped, its connection
    // still counted against its address.
    if (cutInBody || c->closeAfterReply) {
        linger(c->sock, cutInBody);
        return;
    }
    SocketProgress progress;
    const bool known = socketProgress(c->sock, progress);
    std::lock_guard<std::mutex> lock(c->server->mutex_);
    const uint64_t consumed = known ? progress.received - progress.unread : 0;
    if (consumed - c->headStart > kTrimAfterBytes)
        c->large = true;
    // As before the first request, an idle connection's wait counts against
    // its next request's time; the library ends it after the keep-alive time.
    c->phase = Connection::Phase::Head;
    c->headStart = consumed;
    c->deadline = Clock::now() + std::chrono::seconds(c->server->limits_.requestTimeoutSeconds);
}

} // namespace speech
