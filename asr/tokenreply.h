#pragma once

#include <QByteArray>
#include <QString>

// The access token of the speech service: where to ask for it and what its reply holds.
struct TokenReply
{
    QString accessToken;
    QString sessionKey;
    QString refreshToken;
    QString sessionSecret;
    int expiresIn = 0;
};

// Address of the token request (client-credentials grant); an empty id or secret takes the
// compiled-in pair, which the local service accepts.
QString tokenUrl(const QString &serviceBaseUrl, const QString &clientId = QString(),
    const QString &clientSecret = QString());

// Reads a token reply. False when the body is not a JSON object; members that are absent or
// of another type read as the empty string or 0.
bool parseTokenReply(const QByteArray &body, TokenReply *reply);
