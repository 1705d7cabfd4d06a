#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

class QHttpMultiPart;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// How a request ended, for callers that need more than the body: the HTTP status (0 when no
// HTTP answer came), the Retry-After header, and why a TLS handshake was refused.
struct HttpReplyInfo
{
    int status = 0;
    QByteArray body;
    QByteArray retryAfter;
    QString tlsFailure;
};

// The one HTTP client of the program: plain GET/POST with JSON bodies, each reply reported
// with the number of the request it answers.
class QtHttpClass : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QtHttpClass)

public:
    QtHttpClass();
    ~QtHttpClass() override;

    void httpGet(int requestId, QString url);
    void httpPost(int requestId, QString url, QByteArray body);
    // Posts a multipart form with extra headers; the form is owned by the reply from here on.
    void httpPostForm(int requestId, const QString &url, QHttpMultiPart *form,
        const QList<QPair<QByteArray, QByteArray>> &headers);

    // https trusts the system's certificates plus those of caFile (PEM), for every request from
    // here on; an empty name trusts the system's alone. False when the file holds none.
    bool setCaFile(const QString &caFile);
    // Why the last request with that number was refused at the TLS handshake; empty when it
    // was not.
    QString tlsFailure(int requestId) const { return tlsFailures.value(requestId); }

    // Ends every outstanding request with the given number without reporting it: a request
    // the caller gave up on must not come back as a network failure.
    void abortRequests(int requestId);
    // Number of requests with that number that have not been answered yet.
    int outstandingRequests(int requestId) const;
    // Replies longer than this are cut off while they are read and reported with the bytes read
    // so far (one more than the limit at least); 0 reads replies of any length.
    void setMaxReplyBytes(qint64 bytes) { maxReplyBytes = bytes; }
    // The number and the address of the last request sent; -1 and empty before the first.
    int lastRequestId() const { return requestId; }
    const QUrl &lastRequestUrl() const { return requestUrl; }

signals:
    void sigReplyFinish(int requestId, QByteArray body);
    void sigReplyError(int requestId, QByteArray body);
    // Every reply, before one of the two above.
    void sigReplyDone(int requestId, const HttpReplyInfo &info);

public slots:
    void sltReplyFinished(QNetworkReply *reply);

private:
    void prepare(QNetworkRequest &request) const;
    void track(QNetworkReply *reply, int id);
    void limitSize(QNetworkReply *reply);
    static void logFailure(const QNetworkReply *reply, int id, const HttpReplyInfo &info);

    QNetworkAccessManager *manager = nullptr;
    QUrl requestUrl;
    int requestId = -1;

    QList<QNetworkReply *> outstanding;
    qint64 maxReplyBytes = 0;
    QSslConfiguration tls;
    QHash<int, QString> tlsFailures;
};
