#include "common/scriptedhttppeer.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// Hands out each connection as a QSslSocket that has begun its server handshake.
class TlsServer final : public QTcpServer
{
public:
    TlsServer(QObject *parent, const QSslCertificate &certificate, const QSslKey &key)
        : QTcpServer(parent)
        , certificate(certificate)
        , key(key)
    { }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        addPendingConnection(socket);
        socket->startServerEncryption();
    }

private:
    QSslCertificate certificate;
    QSslKey key;
};
} // namespace

ScriptedHttpPeer::ScriptedHttpPeer()
    : server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &ScriptedHttpPeer::onNewConnection);
}

ScriptedHttpPeer::~ScriptedHttpPeer() = default;

bool ScriptedHttpPeer::start(int port)
{
    return server->listen(QHostAddress::LocalHost, quint16(port));
}

void ScriptedHttpPeer::stopListening()
{
    server->close();
}

bool ScriptedHttpPeer::startTls(const QString &certificateFile, const QString &keyFile)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificateFile);
    QFile keyData(keyFile);
    if (certificates.isEmpty() || !keyData.open(QIODevice::ReadOnly))
        return false;
    const QSslKey key(&keyData, QSsl::Rsa);
    if (key.isNull())
        return false;
    delete server;
    server = new TlsServer(this, certificates.first(), key);
    connect(server, &QTcpServer::newConnection, this, &ScriptedHttpPeer::onNewConnection);
    tls = true;
    return server->listen(QHostAddress::LocalHost, 0);
}

QString ScriptedHttpPeer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(server->serverPort());
}

void ScriptedHttpPeer::enqueue(const QByteArray &path, const Reply &reply)
{
    queues[path].enqueue(reply);
}

void ScriptedHttpPeer::setFallback(const QByteArray &path, const Reply &reply)
{
    fallbacks[path] = reply;
}

void ScriptedHttpPeer::setHandler(
    const QByteArray &path, std::function<Reply(const Request &)> handler)
{
    handlers[path] = std::move(handler);
}

QList<ScriptedHttpPeer::Request> ScriptedHttpPeer::requestsTo(const QByteArray &path) const
{
    QList<Request> found;
    for (const Request &r : requests) {
        if (r.path == path)
            found.append(r);
    }
    return found;
}

void ScriptedHttpPeer::onNewConnection()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void ScriptedHttpPeer::onReadyRead(QTcpSocket *socket)
{
    buffers[socket] += socket->readAll();
    // One request after another on the same connection, each as soon as it is complete. The
    // buffer is looked up afresh each time: answering may close the socket and drop its entry.
    while (buffers.contains(socket)) {
        QByteArray &buffer = buffers[socket];
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        const QByteArray target = first.value(1);
        const int q = target.indexOf('?');
        request.path = q < 0 ? target : target.left(q);
        request.query = q < 0 ? QByteArray() : target.mid(q + 1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(
                    lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        requests.append(request);
        const Reply reply = replyFor(request);
        emit requestReceived();
        if (reply.delayMs > 0) {
            QPointer<QTcpSocket> guard(socket);
            const QByteArray path = request.path;
            QTimer::singleShot(reply.delayMs, this, [this, guard, reply, path] {
                ++answered[path];
                if (guard)
                    answer(guard, reply);
            });
        } else {
            ++answered[request.path];
            answer(socket, reply);
        }
    }
}

ScriptedHttpPeer::Reply ScriptedHttpPeer::replyFor(const Request &request)
{
    if (handlers.contains(request.path))
        return handlers[request.path](request);
    QQueue<Reply> &queue = queues[request.path];
    if (!queue.isEmpty())
        return queue.dequeue();
    return fallbacks.value(request.path, Reply::json("{\"error\": \"not scripted\"}", 404));
}

void ScriptedHttpPeer::answer(QTcpSocket *socket, const Reply &reply)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    switch (reply.action) {
    case Reply::Silent:
        return;
    case Reply::Close:
        socket->abort();
        return;
    case Reply::Answer:
        break;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    head += "Content-Type: application/json\r\n";
    head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += reply.extraHeaders;
    head += "Connection: close\r\n\r\n";
    socket->write(QByteArray(head + reply.body));
    socket->disconnectFromHost();
}
