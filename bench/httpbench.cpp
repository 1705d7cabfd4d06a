// The two candidates for the service's HTTP layer, each serving one tiny endpoint with the
// service's limits set: cpp-httplib with the service's guards (its public hooks) and
// libmicrohttpd with its own options. For each: small keep-alive requests per second, memory
// and threads with idle slow clients held open, how long a slowloris client (one header line
// every half second) and an endless head last. Prints "name: value" lines.
//   httpbench [idle-clients]   (100 by default)
#include "service/http/guarded_server.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kDeadlineSeconds = 3;
constexpr size_t kPerAddress = 128;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long statusField(const char *name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0)
            return std::atol(line.c_str() + std::strlen(name));
    }
    return -1;
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string &data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

// One request and its whole reply on a kept-alive connection; false once the server closed it.
bool roundTrip(int fd)
{
    if (!sendAll(fd, "GET /x HTTP/1.1\r\nHost: bench\r\n\r\n"))
        return false;
    std::string reply;
    char buffer[4096];
    for (;;) {
        const size_t headEnd = reply.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const size_t at = reply.find("Content-Length: ");
            const size_t length = at == std::string::npos ? 0 : std::stoul(reply.substr(at + 16));
            if (reply.size() >= headEnd + 4 + length)
                return reply.compare(0, 12, "HTTP/1.1 200") == 0;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        reply.append(buffer, size_t(n));
    }
}

double requestsPerSecond(int port)
{
    constexpr int kClients = 2;
    constexpr int kRequests = 4000;
    std::atomic<int> failed { 0 };
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            int fd = connectTo(port);
            for (int done = 0; done < kRequests;) {
                if (fd >= 0 && roundTrip(fd)) {
                    ++done;
                    continue;
                }
                // The server ended the kept-alive connection: a new one, as a client does.
                if (fd >= 0)
                    ::close(fd);
                fd = connectTo(port);
                if (fd < 0 && ++failed > 100)
                    return;
            }
            ::close(fd);
        });
    }
    for (std::thread &t : clients)
        t.join();
    return failed > 100 ? -1 : kClients * kRequests / since(start);
}

// Reads until the server answers or closes; returns the status line, empty when closed silently.
std::string statusLine(int fd)
{
    std::string reply;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        reply.append(buffer, size_t(n));
        if (reply.find("\r\n") != std::string::npos)
            break;
    }
    return reply.substr(0, reply.find("\r\n"));
}

void idleClients(const char *name, int port, int count)
{
    const long rssBefore = statusField("VmRSS:");
    const long threadsBefore = statusField("Threads:");
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = connectTo(port);
        if (fd >= 0 && sendAll(fd, "GET /x HTTP/1.1\r\nHost: bench\r\n"))
            fds.push_back(fd);
    }
    // Every connection accepted and its first line read.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    int open = 0;
    for (int fd : fds) {
        pollfd p { fd, POLLIN, 0 };
        open += ::poll(&p, 1, 0) == 0 ? 1 : 0;
    }
    std::printf("%s_idle_clients_open: %d of %d\n", name, open, count);
    std::printf("%s_idle_clients_rss_kib: %ld\n", name, statusField("VmRSS:") - rssBefore);
    std::printf("%s_idle_clients_threads: %ld more, %ld in all\n", name,
        statusField("Threads:") - threadsBefore, statusField("Threads:"));
    std::printf("%s_rss_kib_in_all: %ld\n", name, statusField("VmRSS:"));
    for (int fd : fds)
        ::close(fd);
}

void slowloris(const char *name, int port)
{
    const int fd = connectTo(port);
    const auto start = Clock::now();
    sendAll(fd, "GET /x HTTP/1.1\r\n");
    std::string status = "not cut";
    while (since(start) < 4 * kDeadlineSeconds) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 500) > 0) {
            status = statusLine(fd);
            break;
        }
        if (!sendAll(fd, "X-Slow: 1\r\n")) {
            status = "";
            break;
        }
    }
    std::printf("%s_slowloris_cut_after_s: %.2f (deadline %u, \"%s\")\n", name, since(start),
        kDeadlineSeconds, status.empty() ? "closed" : status.c_str());
    ::close(fd);
}

void endlessHead(const char *name, int port)
{
    const int fd = connectTo(port);
    std::atomic<bool> done { false };
    std::atomic<size_t> sent { 0 };
    std::thread writer([&] {
        sendAll(fd, "GET /x HTTP/1.1\r\n");
        const std::string lines = [] {
            std::string s;
            for (int i = 0; i < 1000; ++i)
                s += "X-Header-" + std::to_string(i) + ": v\r\n";
            return s;
        }();
        while (!done && sent < 200u * 1024 * 1024 && sendAll(fd, lines))
            sent += lines.size();
    });
    const auto start = Clock::now();
    const std::string status = statusLine(fd);
    done = true;
    ::shutdown(fd, SHUT_RDWR);
    writer.join();
    std::printf("%s_endless_head: \"%s\" after %.2f s, %zu KiB sent\n", name,
        status.empty() ? "closed" : status.c_str(), since(start), sent.load() / 1024);
    ::close(fd);
}

void measure(const char *name, int port, int idle)
{
    std::printf("%s_keepalive_requests_per_s: %.0f\n", name, requestsPerSecond(port));
    idleClients(name, port, idle);
    slowloris(name, port);
    endlessHead(name, port);
    std::fflush(stdout);
}

void benchHttplib(int idle)
{
    speech::ServiceLimits limits;
    limits.requestTimeoutSeconds = kDeadlineSeconds;
    limits.maxConnectionsPerClient = kPerAddress;
    speech::GuardedHttpServer http(
        limits, [](const std::string &, int, const char *reason) { return std::string(reason); });
    int listenSocket = -1;
    http.set_socket_options([&](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listenSocket = sock;
    });
    http.set_pre_routing_handler([&](const httplib::Request &req, httplib::Response &res) {
        if (const int status = http.headReceived(req)) {
            res.status = status;
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_logger([](const httplib::Request &, const httplib::Response &) {
        speech::GuardedHttpServer::replySent();
    });
    http.Get("/x", [](const httplib::Request &, httplib::Response &res) {
        speech::GuardedHttpServer::requestReceived();
        res.set_content("ok", "text/plain");
    });
    const int port = http.bind_to_any_port("127.0.0.1");
    ::listen(listenSocket, SOMAXCONN);
    http.listeningOn(listenSocket);
    std::thread server([&] { http.listen_after_bind(); });
    while (!http.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    measure("httplib", port, idle);
    http.stop();
    server.join();
}

MHD_Result answer(void *, MHD_Connection *connection, const char *, const char *, const char *,
    const char *, size_t *uploadSize, void **state)
{
    static int started;
    if (!*state) {
        *state = &started;
        return MHD_YES;
    }
    if (*uploadSize) {
        *uploadSize = 0;
        return MHD_YES;
    }
    static char body[] = "ok";
    MHD_Response *response = MHD_create_response_from_buffer(2, body, MHD_RESPMEM_PERSISTENT);
    const MHD_Result queued = MHD_queue_response(connection, 200, response);
    MHD_destroy_response(response);
    return queued;
}

void benchMicrohttpd(int idle)
{
    MHD_Daemon *daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0,
        nullptr, nullptr, &answer, nullptr, MHD_OPTION_CONNECTION_LIMIT, 512u,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, unsigned(kPerAddress), MHD_OPTION_CONNECTION_TIMEOUT,
        kDeadlineSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(32 * 1024), MHD_OPTION_END);
    if (!daemon) {
        std::printf("microhttpd: did not start\n");
        return;
    }
    const int port = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
    measure("microhttpd", port, idle);
    MHD_stop_daemon(daemon);
}

} // namespace

int main(int argc, char **argv)
{
    const int idle = argc > 1 ? std::atoi(argv[1]) : 100;
    benchHttplib(idle);
    benchMicrohttpd(idle);
    return 0;
}
