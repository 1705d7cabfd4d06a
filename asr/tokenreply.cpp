#include "asr/tokenreply.h"

#include <QUrl>

#include "asr/jsonreading.h"
#include "protocol/speechprotocol.h"

namespace token = speechprotocol::token;

QString tokenUrl(
    const QString &serviceBaseUrl, const QString &clientId, const QString &clientSecret)
{
    const bool builtIn = clientId.isEmpty() || clientSecret.isEmpty();
    const QString id = builtIn ? QString::fromLatin1(token::kBuiltInClientId) : clientId;
    const QString secret
        = builtIn ? QString::fromLatin1(token::kBuiltInClientSecret) : clientSecret;
    const auto parameter = [](const char *name, const QString &value) -> QString {
        return QLatin1String(name) + QLatin1Char('=')
            + QString::fromLatin1(QUrl::toPercentEncoding(value));
    };
    return serviceBaseUrl + QLatin1String(speechprotocol::path::kToken) + QLatin1Char('?')
        + parameter(token::kGrantType, QString::fromLatin1(token::kClientCredentials))
        + QLatin1Char('&') + parameter(token::kClientId, id) + QLatin1Char('&')
        + parameter(token::kClientSecret, secret);
}

bool parseTokenReply(const QByteArray &body, TokenReply *reply)
{
    Json::Value root;
    if (!JsonReading::parseObject(body, &root))
        return false;
    reply->accessToken = JsonReading::stringMember(root, token::kAccessToken);
    reply->sessionKey = JsonReading::stringMember(root, token::kSessionKey);
    reply->refreshToken = JsonReading::stringMember(root, token::kRefreshToken);
    reply->sessionSecret = JsonReading::stringMember(root, token::kSessionSecret);
    const Json::Value &expires = root[token::kExpiresIn];
    reply->expiresIn = expires.isInt() ? expires.asInt() : 0;
    return true;
}
