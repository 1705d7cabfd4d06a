#include "service/http/http_server.h"

#include "service/http/access_log.h"
#include "service/http/guarded_server.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace speech::http {

namespace {

// What the handler learnt about a request, for the line the logger writes once the reply is
// out. Both run on the same worker thread.
thread_local LogNote tlsNote;

// The library's reader of a route's body.
class LibraryReader final : public BodyReader
{
public:
    explicit LibraryReader(const httplib::ContentReader *reader)
        : reader_(reader)
    { }

    bool read(const Chunk &chunk) override
    {
        if (!reader_)
            return complete_ = true;
        complete_
            = (*reader_)([&chunk](const char *data, size_t length) { return chunk(data, length); });
        received();
        return complete_;
    }

    bool readForm(const PartHead &head, const Chunk &chunk) override
    {
        if (!reader_)
            return complete_ = true;
        complete_ = (*reader_)(
            [&head](const httplib::MultipartFormData &part) { return head(part.name); },
            [&chunk](const char *data, size_t length) { return chunk(data, length); });
        received();
        return complete_;
    }

    bool timedOut() const override { return GuardedHttpServer::readTimedOut(); }

private:
    // The whole request is in: its time no longer runs while it is handled.
    void received() const
    {
        if (complete_)
            GuardedHttpServer::requestReceived();
    }

    const httplib::ContentReader *reader_;
};

// The rest of the request stays unread, so the connection cannot carry another.
void closeUnread(httplib::Response &res)
{
    GuardedHttpServer::closeAfterReply();
    res.set_header("Connection", "close");
}

} // namespace

const std::string &Request::method() const
{
    return r_.method;
}

const std::string &Request::path() const
{
    return r_.path;
}

bool Request::hasHeader(const char *name) const
{
    return r_.has_header(name);
}

std::string Request::header(const char *name) const
{
    return r_.get_header_value(name);
}

std::string Request::param(const char *name) const
{
    return r_.get_param_value(name);
}

bool Request::isMultipartForm() const
{
    return r_.is_multipart_form_data();
}

std::optional<uint64_t> Request::declaredLength() const
{
    if (transferCoded() || !hasHeader("Content-Length"))
        return std::nullopt;
    const std::string text = header("Content-Length");
    uint64_t length = 0;
    std::from_chars(text.data(), text.data() + text.size(), length);
    return length;
}

bool Request::transferCoded() const
{
    return hasHeader("Transfer-Encoding");
}

Request::Endpoint Request::remote() const
{
    return { r_.remote_addr, r_.remote_port };
}

Request::Endpoint Request::local() const
{
    return { r_.local_addr, r_.local_port };
}

int Response::status() const
{
    return r_.status;
}

void Response::setStatus(int status)
{
    r_.status = status;
}

void Response::setHeader(const char *name, const std::string &value)
{
    r_.set_header(name, value);
}

void Response::setContent(const std::string &body, const char *contentType)
{
    r_.set_content(body, contentType);
}

bool Response::hasBody() const
{
    return !r_.body.empty();
}

void Response::closeAfterReply()
{
    closeUnread(r_);
}

LogNote &Response::note()
{
    return tlsNote;
}

struct Server::Impl
{
    Hooks hooks;
    AccessLog log;
    GuardedHttpServer http;
    int listenSocket = -1;
    std::map<std::pair<std::string, std::string>, Route> routes; // by method and path

    Impl(const ServiceLimits &limits, Hooks h)
        : hooks(std::move(h))
        , http(limits, [this](const std::string &address, int status, const char *reason) {
            log.write(refusedLine(address, status, reason));
            return hooks.refusal(status, reason);
        })
    { }

    void call(const Route &route, const httplib::Request &req, httplib::Response &res,
        const httplib::ContentReader *reader);
    void callBuffered(const Route &route, const Request &request, Response &response,
        const httplib::ContentReader *reader);
    void installHeadChecks();
    void installErrorReplies();
    void writeLogLine(const httplib::Request &req, const httplib::Response &res);
};

// The one way into every route: the owner's step around the handler, the request marked
// received once its body is in, and a streamed body left unread closing the connection.
void Server::Impl::call(const Route &route, const httplib::Request &req, httplib::Response &res,
    const httplib::ContentReader *reader)
{
    const Request request(req);
    Response response(res);
    const auto handle = [&] {
        switch (route.body) {
        case Body::None: {
            GuardedHttpServer::requestReceived();
            LibraryReader none(nullptr);
            route.handler(request, response, {}, none);
            break;
        }
        case Body::Buffered:
            callBuffered(route, request, response, reader);
            break;
        case Body::Streamed: {
            LibraryReader streamed(reader);
            route.handler(request, response, {}, streamed);
            GuardedHttpServer::requestReceived();
            if (reader && !streamed.complete())
                closeUnread(res);
            break;
        }
        }
    };
    if (route.enter)
        route.enter(request, response, handle);
    else
        handle();
}

// The body is read here rather than by the library, so that a body without a declared length
// meets the same limit while it arrives.
void Server::Impl::callBuffered(const Route &route, const Request &request, Response &response,
    const httplib::ContentReader *reader)
{
    std::string body;
    bool tooLarge = false;
    bool complete = true;
    if (reader) {
        // Room for the whole body at once, not twice its size as it grows.
        if (const std::optional<uint64_t> length = request.declaredLength())
            body.reserve(size_t(std::min<uint64_t>(*length, route.maxBytes)));
        complete = (*reader)([&](const char *data, size_t length) {
            tooLarge = body.size() + length > route.maxBytes;
            if (!tooLarge)
                body.append(data, length);
            return !tooLarge;
        });
    }
    GuardedHttpServer::requestReceived();
    if (tooLarge || !complete) {
        response.closeAfterReply();
        response.setStatus(tooLarge ? 413 : 400);
        return;
    }
    LibraryReader done(nullptr);
    route.handler(request, response, body, done);
}

// The checks of a request's head before any of its body is read.
void Server::Impl::installHeadChecks()
{
    // A client that asks before sending its body is refused before sending it.
    http.set_expect_100_continue_handler(
        [this](const httplib::Request &req, httplib::Response &res) {
            Response response(res);
            const int status = hooks.checkHead(Request(req), response);
            if (status == 0)
                return 100;
            GuardedHttpServer::closeAfterReply();
            res.status = status;
            return status;
        });
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        // Replies are small and made anew for each request: a Range is ignored (as HTTP lets
        // a server), so that every reply goes out whole rather than cut, or emptied when the
        // range lies beyond it. The library's request object is its own, not a constant one;
        // only the ranges it parsed from the head are dropped. A Range it cannot parse gets
        // 416 with a body from the error handler.
        const_cast<httplib::Request &>(req).ranges.clear();
        if (const int status = http.headReceived(req)) {
            GuardedHttpServer::requestReceived();
            closeUnread(res);
            res.status = status;
            return httplib::Server::HandlerResponse::Handled;
        }
        // A request with neither a length nor a transfer coding has no body, but the library
        // would wait for one until the connection ends.
        if (req.method == "POST" && !req.has_header("Content-Length")
            && !req.has_header("Transfer-Encoding")) {
            const auto it = routes.find({ req.method, req.path });
            if (it != routes.end() && it->second.body != Body::Streamed) {
                call(it->second, req, res, nullptr);
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        Response response(res);
        const int status = hooks.checkHead(Request(req), response);
        if (status == 0)
            return httplib::Server::HandlerResponse::Unhandled;
        GuardedHttpServer::requestReceived();
        closeUnread(res);
        res.status = status;
        return httplib::Server::HandlerResponse::Handled;
    });
}

// Bodies for what no handler answered, and a log line for every reply.
void Server::Impl::installErrorReplies()
{
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request &req, httplib::Response &res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            // The library answers a head it could not read with 400; say why.
            const GuardedHttpServer::Cut cut = GuardedHttpServer::currentCut();
            if (res.status == 400
                && (cut == GuardedHttpServer::Cut::TimedOut || GuardedHttpServer::readTimedOut()))
                res.status = 408;
            if (res.status == 400 && cut == GuardedHttpServer::Cut::HeadTooLarge)
                res.status = 431;
            if (cut != GuardedHttpServer::Cut::None)
                res.set_header("Connection", "close");
            Response response(res);
            hooks.describeError(Request(req), response);
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [this](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
            res.status = 500;
            Response response(res);
            hooks.internalError(response);
        });
    http.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        writeLogLine(req, res);
    });
}

void Server::Impl::writeLogLine(const httplib::Request &req, const httplib::Response &res)
{
    const bool logged = GuardedHttpServer::repliedForLibrary();
    GuardedHttpServer::replySent();
    const LogNote note = tlsNote;
    tlsNote = LogNote();
    if (!logged)
        log.write(accessLine(
            req.method, req.path, res.status, note.errNo, note.audioSeconds, note.decodeMs));
}

Server::Server(const ServiceLimits &limits, size_t maxBodyBytes, Hooks hooks)
    : d(new Impl(limits, std::move(hooks)))
{
    // Bodies are refused from their declared length before they are read; the library's own
    // limit is only the last line.
    d->http.set_payload_max_length(maxBodyBytes);
    // Address reuse for a quick restart, but not port sharing: a second service on a port in
    // use must fail rather than take half its clients.
    d->http.set_socket_options([this](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        d->listenSocket = sock;
    });
    d->installHeadChecks();
    d->installErrorReplies();
}

Server::~Server() = default;

void Server::add(Route route)
{
    const auto key = std::make_pair(std::string(route.method), std::string(route.path));
    const Route &stored = d->routes[key] = std::move(route);
    const bool get = key.first == "GET";
    if (stored.body == Body::None) {
        auto handler = [this, &stored](const httplib::Request &req, httplib::Response &res) {
            d->call(stored, req, res, nullptr);
        };
        get ? d->http.Get(stored.path, handler) : d->http.Post(stored.path, handler);
    } else {
        d->http.Post(stored.path,
            [this, &stored](const httplib::Request &req, httplib::Response &res,
                const httplib::ContentReader &reader) { d->call(stored, req, res, &reader); });
    }
}

int Server::bind(const std::string &host, int port)
{
    const int bound = port == 0 ? d->http.bind_to_any_port(host)
                                : (d->http.bind_to_port(host, port) ? port : -1);
    // The library listens with a backlog of 5; a burst of clients beyond that meets SYN
    // cookies and resets. Listening again only raises it.
    if (bound > 0 && d->listenSocket >= 0) {
        ::listen(d->listenSocket, SOMAXCONN);
        d->http.listeningOn(d->listenSocket);
    }
    return bound;
}

bool Server::serve()
{
    return d->http.listen_after_bind();
}

bool Server::running() const
{
    return d->http.is_running();
}

void Server::stop()
{
    d->http.stop();
}

} // namespace speech::http
