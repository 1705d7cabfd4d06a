#pragma once

#include "service/http/service_limits.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace speech::http {

// A request as the routes see it: a view of the library's, valid while it is handled.
class Request
{
public:
    explicit Request(const httplib::Request &request)
        : r_(request)
    { }

    const std::string &method() const;
    const std::string &path() const;
    bool hasHeader(const char *name) const;
    std::string header(const char *name) const;
    // From the query, or from a form body the library read.
    std::string param(const char *name) const;
    bool isMultipartForm() const;
    // The body length the head declares; a transfer coding overrides it.
    std::optional<uint64_t> declaredLength() const;
    bool transferCoded() const;

    struct Endpoint
    {
        std::string address;
        int port = -1;
    };
    Endpoint remote() const;
    Endpoint local() const;

private:
    const httplib::Request &r_;
};

// What the access log tells of a request beside its method, path and status; "-" where unset.
struct LogNote
{
    int errNo = -1;
    double audioSeconds = -1;
    long long decodeMs = -1;
};

// The reply being made: a view of the library's.
class Response
{
public:
    explicit Response(httplib::Response &response)
        : r_(response)
    { }

    int status() const;
    void setStatus(int status);
    void setHeader(const char *name, const std::string &value);
    void setContent(const std::string &body, const char *contentType);
    bool hasBody() const;
    // The connection ends after this reply, whatever is left of the request unread.
    void closeAfterReply();
    // This request's line in the access log.
    LogNote &note();

private:
    httplib::Response &r_;
};

// A route's body, read as it arrives. A streamed route whose body is not read to its end gets
// its connection closed after the reply.
class BodyReader
{
public:
    using Chunk = std::function<bool(const char *data, size_t length)>;
    // A multipart form's part begins; false stops the reading.
    using PartHead = std::function<bool(const std::string &name)>;

    virtual ~BodyReader() = default;
    // False when the body ended short or a callback stopped it.
    virtual bool read(const Chunk &chunk) = 0;
    virtual bool readForm(const PartHead &head, const Chunk &chunk) = 0;
    // After a short read: nothing came within the library's read timeout.
    virtual bool timedOut() const = 0;
    bool complete() const { return complete_; }

protected:
    bool complete_ = false;
};

// How a route takes its body.
enum class Body {
    None, // none, or a form the library reads and parses into the parameters
    Buffered, // read whole by the server within `maxBytes`, handed to the handler
    Streamed, // read by the handler through the reader
};

struct Route
{
    const char *method;
    const char *path;
    Body body = Body::None;
    size_t maxBytes = 0; // Body::Buffered
    // `body` holds the buffered body; `reader` reads a streamed one.
    std::function<void(
        const Request &req, Response &res, const std::string &body, BodyReader &reader)>
        handler;
    // Around the whole call, before any body is read: counts the request while it runs. The
    // buffered body is read and the handler called by `handle`.
    std::function<void(const Request &req, Response &res, const std::function<void()> &handle)>
        enter;
};

// The service's HTTP server: cpp-httplib with the measured guards (see guarded_server.h), and
// one step that every route passes through: the route's `enter` runs around the call, the
// request counts as received once its body is in (its time stops), a streamed body left unread
// closes the connection, and the access log gets one line per reply.
class Server
{
public:
    struct Hooks
    {
        // From the head alone, before any body is read: a status that refuses the request
        // (the body of the reply set in `res`), or 0.
        std::function<int(const Request &req, Response &res)> checkHead;
        // The body of a reply that no handler gave one (an unknown path, a body too large, a
        // request that could not be read); the status is already the one to send.
        std::function<void(const Request &req, Response &res)> describeError;
        // The body of the reply to a handler that failed with an exception (status 500).
        std::function<void(Response &res)> internalError;
        // The body of the refusal of a connection before a request was read.
        std::function<std::string(int status, const char *reason)> refusal;
    };

    Server(const ServiceLimits &limits, size_t maxBodyBytes, Hooks hooks);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    void add(Route route);

    // Binds the listening socket; port 0 takes a free one. Returns the port, or -1.
    int bind(const std::string &host, int port);
    // Serves until stop(); false when serving failed.
    bool serve();
    bool running() const;
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace speech::http
