#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

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

    // Ends every outstanding request with the given number without reporting it: a request
    // the caller gave up on must not come back as a network failure.
    void abortRequests(int requestId);
    // Number of requests with that number that have not been answered yet.
    int outstandingRequests(int requestId) const;
    // Replies longer than this are cut off while they are read and reported with the bytes read
    // so far (one more than the limit at least); 0 reads replies of any length.
    void setMaxReplyBytes(qint64 bytes) { maxReplyBytes = bytes; }

signals:
    void sigReplyFinish(int requestId, QByteArray body);
    void sigReplyError(int requestId, QByteArray body);

public slots:
    void sltReplyFinished(QNetworkReply *reply);

public:
    QNetworkAccessManager *manager = nullptr;
    QUrl requestUrl;
    int requestId = -1;

private:
    void track(QNetworkReply *reply, int id);
    void limitSize(QNetworkReply *reply);

    QList<QNetworkReply *> outstanding;
    qint64 maxReplyBytes = 0;
};
