#include "asr/tokenreply.h"

#include <QUrl>

#include "asr/jsonreading.h"

QString tokenUrl(
    const QString &serviceBaseUrl, const QString &clientId, const QString &clientSecret)
{
    if (clientId.isEmpty() || clientSecret.isEmpty())
        return serviceBaseUrl
            + QStringLiteral("/oauth/2.0/token?grant_type=client_credentials"
                             "&client_id=Rk3nVq8ZtLm2Hs7PxWc4JdYb"
                             "&client_secret=Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W");
    return serviceBaseUrl + QStringLiteral("/oauth/2.0/token?grant_type=client_credentials")
        + QStringLiteral("&client_id=")
        + QString::fromLatin1(QUrl::toPercentEncoding(clientId))
        + QStringLiteral("&client_secret=")
        + QString::fromLatin1(QUrl::toPercentEncoding(clientSecret));
}

bool parseTokenReply(const QByteArray &body, TokenReply *reply)
{
    Json::Value root;
    if (!JsonReading::parseObject(body, &root))
        return false;
    reply->accessToken = JsonReading::stringMember(root, "access_token");
    reply->sessionKey = JsonReading::stringMember(root, "session_key");
    reply->refreshToken = JsonReading::stringMember(root, "refresh_token");
    reply->sessionSecret = JsonReading::stringMember(root, "session_secret");
    const Json::Value &expires = root["expires_in"];
    reply->expiresIn = expires.isInt() ? expires.asInt() : 0;
    return true;
}
