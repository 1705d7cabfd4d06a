#include "asr/accesstoken.h"

#include <QTimer>

#include "asr/qthttpclass.h"

AccessToken::AccessToken(QtHttpClass *http, QObject *parent)
    : QObject(parent)
    , http(http)
    , limit(new QTimer(this))
{
    connect(limit, &QTimer::timeout, this, &AccessToken::timeOut);
    connect(http, &QtHttpClass::sigReplyFinish, this, &AccessToken::readReply);
    connect(http, &QtHttpClass::sigReplyError, this,
        [this](int requestId, const QByteArray &) { readError(requestId); });
}

AccessToken::~AccessToken()
{
    // Nothing is reported to anyone from here on.
    blockSignals(true);
    end();
}

void AccessToken::request(const QString &serviceBaseUrl, int timeoutMs, const QString &clientId,
    const QString &clientSecret)
{
    end();
    pending = true;
    http->httpGet(RequestId, tokenUrl(serviceBaseUrl, clientId, clientSecret));
    limit->start(timeoutMs);
}

void AccessToken::abort()
{
    end();
}

void AccessToken::end()
{
    limit->stop();
    pending = false;
    // Aborted replies are dropped by the client, never reported as failures.
    if (http)
        http->abortRequests(RequestId);
}

void AccessToken::timeOut()
{
    if (!pending)
        return;
    end();
    emit failed(Failure::TimedOut);
}

void AccessToken::readReply(int requestId, const QByteArray &body)
{
    if (requestId != RequestId || !pending)
        return;
    limit->stop();
    pending = false;
    TokenReply reply;
    // A reply that is no token at all (not JSON, or "{}") would otherwise keep the job
    // asking, or waiting, until the user stops it.
    if (!parseTokenReply(body, &reply) || reply.accessToken.isEmpty()) {
        emit failed(Failure::NoToken);
        return;
    }
    stored = reply;
    emit received();
}

void AccessToken::readError(int requestId)
{
    if (requestId != RequestId || !pending)
        return;
    limit->stop();
    pending = false;
    emit failed(Failure::NoToken);
}
