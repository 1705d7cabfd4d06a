#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "asr/httprequestids.h"
#include "asr/tokenreply.h"

class QTimer;
class QtHttpClass;

// The access token of the speech service: one request at a time, its time limit and its
// reply. A stop, a time-out, a failure and a reply each end the request once.
class AccessToken final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AccessToken)

public:
    // Why a request ended without a token: no answer in time, or a failure or an answer that
    // held no token.
    enum class Failure { TimedOut, NoToken };
    Q_ENUM(Failure)

    // Request number of the token request on the HTTP client.
    static constexpr int RequestId = HttpRequestIds::Token;

    explicit AccessToken(QtHttpClass *http, QObject *parent = nullptr);
    ~AccessToken() override;

    // The stored token; empty until a reply with a token has been taken.
    const TokenReply &values() const { return stored; }
    // Takes a token handed on from before, as if its request had just answered.
    void keep(const QString &accessToken) { stored.accessToken = accessToken; }
    bool isEmpty() const { return stored.accessToken.isEmpty(); }
    // The service no longer takes the token: the next request asks for a new one.
    void clear() { stored.accessToken.clear(); }

    // Runs from the moment the request is sent until it ends.
    QTimer *timer() const { return limit; }
    bool isPending() const { return pending; }

    // An empty client id or secret asks with the built-in pair.
    void request(const QString &serviceBaseUrl, int timeoutMs, const QString &clientId = QString(),
        const QString &clientSecret = QString());
    // Ends an outstanding request without reporting anything.
    void abort();
    // The time limit ran out: the request is dropped and reported as timed out.
    void timeOut();

    // Replies of the HTTP client; connected by the constructor. Others than the pending token
    // request's do nothing.
    void readReply(int requestId, const QByteArray &body);
    void readError(int requestId);

signals:
    // A token is stored.
    void received();
    // The request ended without a token.
    void failed(AccessToken::Failure failure);

private:
    void end();

    QPointer<QtHttpClass> http;
    QTimer *limit = nullptr;
    TokenReply stored;
    bool pending = false;
};
