#include "ui/widget.h"

#include <QPushButton>
#include <QTimer>

#include "asr/qthttpclass.h"
#include "asr/tokenreply.h"
#include "ui/dialogs.h"

namespace {
const int TokenRequestId = 0;
}

void Widget::requestAccessToken()
{
    http->httpGet(TokenRequestId, tokenUrl(serviceBaseUrl));
    tokenTimer->start(tokenTimeoutMs);
}

void Widget::sltTokenTimeout()
{
    tokenTimer->stop();
    // The request that ran out of time is dropped, so its late reply cannot start a second job.
    http->abortRequests(TokenRequestId);
    Dialogs::current().information(
        this, QStringLiteral("提示"), QStringLiteral("获取访问令牌超时！"));
    setIdleButtons();
}

void Widget::readTokenReply(const QByteArray &body)
{
    // Once a token is stored, a late reply to an earlier request must not start the job again.
    if (!jobRunning() || !accessToken.isEmpty())
        return;
    tokenTimer->stop();
    TokenReply reply;
    if (!parseTokenReply(body, &reply))
        return; // stays "认证中..." until the user stops
    accessToken = reply.accessToken;
    sessionKey = reply.sessionKey;
    refreshToken = reply.refreshToken;
    sessionSecret = reply.sessionSecret;
    tokenExpiresIn = reply.expiresIn;
    // Without a token this sends the next token request; stop ends that loop.
    slotBeginCover();
}

void Widget::readTokenError()
{
    tokenTimer->stop();
    Dialogs::current().information(
        this, QStringLiteral("提示"), QStringLiteral("获取访问令牌失败，请检查网络连接是否断开！"));
    setIdleButtons();
}
