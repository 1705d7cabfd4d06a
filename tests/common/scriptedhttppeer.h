#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests: it records every request and answers each
// path from a script (status and body, a delay, a closed connection, or no answer at all).
class ScriptedHttpPeer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ScriptedHttpPeer)

public:
    struct Request
    {
        QByteArray method;
        QByteArray path; // without the query
        QByteArray query; // the text after "?", empty when none
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    struct Reply
    {
        enum Action {
            Answer, // send status and body
            Close, // close the connection without a word
            Silent, // keep the connection open and never answer
        };
        int status = 200;
        QByteArray body;
        int delayMs = 0;
        Action action = Answer;
        QByteArray extraHeaders; // whole header lines, each ending in "\r\n"

        static Reply json(const QByteArray &body, int status = 200) { return { status, body, 0, Answer, {} }; }
        static Reply closing() { return { 200, {}, 0, Close, {} }; }
        static Reply silent() { return { 200, {}, 0, Silent, {} }; }
        Reply withHeader(const QByteArray &name, const QByteArray &value) const
        {
            Reply r = *this;
            r.extraHeaders += name + ": " + value + "\r\n";
            return r;
        }
        Reply after(int ms) const
        {
            Reply r = *this;
            r.delayMs = ms;
            return r;
        }
    };

    ScriptedHttpPeer();
    ~ScriptedHttpPeer() override;

    // Listens on a loopback port (0: a free one); false when that failed.
    bool start(int port = 0);
    // Listens for https with this PEM certificate and key; baseUrl() then names https.
    bool startTls(const QString &certificateFile, const QString &keyFile);
    // "http://127.0.0.1:PORT"
    QString baseUrl() const;
    // Takes no new connections (the port is free for another listener); the open ones stay.
    void stopListening();

    // Answers the next request to path with reply; scripted replies are used in order.
    void enqueue(const QByteArray &path, const Reply &reply);
    // The answer once a path's queue is empty (a 404 when none was set).
    void setFallback(const QByteArray &path, const Reply &reply);
    // Answers every request to path; takes precedence over queue and fallback.
    void setHandler(const QByteArray &path, std::function<Reply(const Request &)> handler);

    QList<Request> requests;
    QList<Request> requestsTo(const QByteArray &path) const;
    // Requests to path whose scripted answer time has come, whether or not the client was
    // still there to take the answer.
    int repliesSent(const QByteArray &path) const { return answered.value(path); }

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Reply &reply);
    Reply replyFor(const Request &request);

    QTcpServer *server = nullptr;
    QHash<QByteArray, QQueue<Reply>> queues;
    QHash<QByteArray, Reply> fallbacks;
    QHash<QByteArray, std::function<Reply(const Request &)>> handlers;
    QHash<QTcpSocket *, QByteArray> buffers;
    QHash<QByteArray, int> answered;
    bool tls = false;
};
