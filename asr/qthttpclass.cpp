#include "asr/qthttpclass.h"

#include "asr/logging.h"

#include <QHttpMultiPart>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QStringList>

namespace {
// Each reply carries its own request number, so two outstanding requests are never confused.
const char RequestIdProperty[] = "tovRequestId";
// Set on replies the caller abandoned; their finished() is swallowed.
const char AbandonedProperty[] = "tovAbandoned";
// Set on replies cut off at the size limit; what was read of them is kept here.
const char CutOffProperty[] = "tovCutOff";
// Set on replies whose TLS handshake was refused: the reasons, for the notice.
const char TlsFailureProperty[] = "tovTlsFailure";
} // namespace

QtHttpClass::QtHttpClass()
    : manager(new QNetworkAccessManager(this))
    , tls(QSslConfiguration::defaultConfiguration())
{
    connect(manager, &QNetworkAccessManager::finished, this, &QtHttpClass::sltReplyFinished);
}

QtHttpClass::~QtHttpClass() = default;

void QtHttpClass::httpGet(int requestId, QString url)
{
    this->requestId = requestId;
    requestUrl = QUrl(url);
    QNetworkRequest request(requestUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    prepare(request);
    track(manager->get(request), requestId);
}

void QtHttpClass::httpPost(int requestId, QString url, QByteArray body)
{
    this->requestId = requestId;
    requestUrl = QUrl(url);
    QNetworkRequest request(requestUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    prepare(request);
    track(manager->post(request, body), requestId);
}

void QtHttpClass::httpPostForm(int requestId, const QString &url, QHttpMultiPart *form,
    const QList<QPair<QByteArray, QByteArray>> &headers)
{
    this->requestId = requestId;
    requestUrl = QUrl(url);
    QNetworkRequest request(requestUrl);
    for (const auto &header : headers)
        request.setRawHeader(header.first, header.second);
    prepare(request);
    QNetworkReply *reply = manager->post(request, form);
    form->setParent(reply);
    track(reply, requestId);
}

bool QtHttpClass::setCaFile(const QString &caFile)
{
    // Without a file of the user's own, the default configuration is kept: it reads the
    // system's certificates as a handshake needs them, where systemCaCertificates() parses
    // every one of them from disk on each call (each job and live recording sets this).
    tls = QSslConfiguration::defaultConfiguration();
    if (caFile.isEmpty())
        return true;
    const QList<QSslCertificate> own = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (own.isEmpty())
        return false;
    static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    tls.setCaCertificates(system + own);
    return true;
}

void QtHttpClass::prepare(QNetworkRequest &request) const
{
    if (request.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        request.setSslConfiguration(tls);
}

void QtHttpClass::track(QNetworkReply *reply, int id)
{
    reply->setProperty(RequestIdProperty, id);
    outstanding.append(reply);
    tlsFailures.remove(id);
    // The errors are kept for the notice and never ignored: the handshake fails on them.
    connect(reply, &QNetworkReply::sslErrors, this, [reply](const QList<QSslError> &errors) {
        QStringList reasons;
        for (const QSslError &error : errors)
            reasons << error.errorString();
        reply->setProperty(TlsFailureProperty, reasons.join(QStringLiteral("; ")));
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { limitSize(reply); });
}

void QtHttpClass::limitSize(QNetworkReply *reply)
{
    if (maxReplyBytes <= 0 || reply->property(CutOffProperty).isValid())
        return;
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool tooLong = reply->bytesAvailable() > maxReplyBytes
        || (declared.isValid() && declared.toLongLong() > maxReplyBytes);
    if (!tooLong)
        return;
    // Enough to show the reply is too long; the rest is never taken into memory.
    QByteArray head = reply->read(maxReplyBytes + 1);
    if (head.size() <= maxReplyBytes)
        head.append(QByteArray(int(maxReplyBytes + 1 - head.size()), ' '));
    reply->setProperty(CutOffProperty, head);
    reply->abort();
}

void QtHttpClass::abortRequests(int requestId)
{
    // Copy first: abort() finishes the reply synchronously and re-enters sltReplyFinished.
    const QList<QNetworkReply *> replies = outstanding;
    for (QNetworkReply *reply : replies) {
        if (reply->property(RequestIdProperty).toInt() != requestId)
            continue;
        reply->setProperty(AbandonedProperty, true);
        outstanding.removeOne(reply);
        reply->abort();
        reply->deleteLater();
    }
}

int QtHttpClass::outstandingRequests(int requestId) const
{
    int count = 0;
    for (const QNetworkReply *reply : outstanding) {
        if (reply->property(RequestIdProperty).toInt() == requestId)
            ++count;
    }
    return count;
}

void QtHttpClass::sltReplyFinished(QNetworkReply *reply)
{
    if (reply->property(AbandonedProperty).toBool())
        return;
    if (!outstanding.removeOne(reply))
        return; // already reported once
    const QVariant idValue = reply->property(RequestIdProperty);
    const int id = idValue.isValid() ? idValue.toInt() : requestId;
    const QVariant cutOff = reply->property(CutOffProperty);
    const QByteArray body = cutOff.isValid() ? cutOff.toByteArray() : reply->readAll();
    // Deleted later, so a receiving slot may send the next request right away.
    reply->deleteLater();
    // A reply cut off at the limit was a success as far as it was read.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    HttpReplyInfo info;
    info.status = status;
    info.body = body;
    info.retryAfter = reply->rawHeader("Retry-After");
    info.tlsFailure = reply->property(TlsFailureProperty).toString();
    if (info.tlsFailure.isEmpty() && reply->error() == QNetworkReply::SslHandshakeFailedError)
        info.tlsFailure = reply->errorString();
    if (!info.tlsFailure.isEmpty())
        tlsFailures.insert(id, info.tlsFailure);
    emit sigReplyDone(id, info);
    const bool cutOffSuccess = cutOff.isValid() && status >= 200 && status < 300;
    if (cutOffSuccess || (!cutOff.isValid() && reply->error() == QNetworkReply::NoError))
        emit sigReplyFinish(id, body);
    else {
        logFailure(reply, id, info);
        emit sigReplyError(id, body);
    }
}

void QtHttpClass::logFailure(const QNetworkReply *reply, int id, const HttpReplyInfo &info)
{
    // The query may carry a client secret, and Qt's error text repeats the whole address: the
    // address is logged without its query, the error by its name.
    const QString address = reply->url().toString(QUrl::RemoveQuery | QUrl::RemoveUserInfo);
    const char *error
        = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(reply->error());
    QString line = QStringLiteral("request %1 to %2 failed: HTTP status %3 network error %4 %5")
                       .arg(QString::number(id), address, QString::number(info.status),
                           QString::number(int(reply->error())), QLatin1String(error ? error : ""));
    if (!info.tlsFailure.isEmpty())
        line += QStringLiteral(" TLS: ") + info.tlsFailure;
    qCWarning(lcHttp).noquote() << line;
}
