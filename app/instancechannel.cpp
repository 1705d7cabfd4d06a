#include "app/instancechannel.h"

#include "core/programlayout.h"
#include "platform/privatefolder.h"

#include <QDataStream>
#include <QLocalSocket>
#include <QTimer>
#include <QtEndian>

#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {
const char Taken = '1';
const quint32 NullString = 0xffffffffu;
} // namespace

InstanceChannel::InstanceChannel(const QString &name, QObject *parent)
    : QObject(parent)
    , serverName(name)
{
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server.nextPendingConnection())
            accept(socket);
    });
}

QString InstanceChannel::defaultName(QString *error)
{
    // Never under /tmp by a predictable name: another user could hold it first.
    const QString folder = ProgramLayout::runtimeFolder();
    QString reason;
    if (!PrivateFolder::ensure(folder, &reason)) {
        if (error)
            *error = reason;
        return QString();
    }
    return ProgramLayout::instanceSocket();
}

QString InstanceChannel::defaultLockFile(QString *error)
{
    return defaultName(error).isEmpty() ? QString() : ProgramLayout::instanceLockFile();
}

bool InstanceChannel::listen()
{
    if (serverName.isEmpty())
        return false;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (server.listen(serverName))
        return true;
    // A socket file left by an instance that was killed; the guard says none runs now.
    QLocalServer::removeServer(serverName);
    return server.listen(serverName);
}

bool InstanceChannel::peerIsThisUser(QLocalSocket &socket)
{
    ucred peer {};
    socklen_t length = sizeof peer;
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length)
        == 0
        && length == sizeof peer && peer.uid == ::geteuid();
}

QByteArray InstanceChannel::encode(const QStringList &files)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << files;
    return message;
}

InstanceChannel::Parse InstanceChannel::decode(const QByteArray &message, QStringList *files)
{
    if (message.size() > MaxMessageBytes)
        return Parse::Invalid;
    const auto word = [&message](int at) {
        return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(message.constData() + at));
    };
    if (message.size() < 4)
        return Parse::Incomplete;
    const quint32 count = word(0);
    if (count > quint32(MaxFiles))
        return Parse::Invalid;
    QStringList list;
    int at = 4;
    for (quint32 i = 0; i < count; ++i) {
        if (message.size() - at < 4)
            return Parse::Incomplete;
        const quint32 bytes = word(at);
        at += 4;
        if (bytes == NullString) {
            list.append(QString());
            continue;
        }
        // UTF-16 in two-byte units; a length the message bound cannot hold is a lie.
        if (bytes % 2 != 0 || bytes > quint32(MaxMessageBytes))
            return Parse::Invalid;
        if (quint32(message.size() - at) < bytes)
            return Parse::Incomplete;
        QString text(int(bytes / 2), Qt::Uninitialized);
        for (int c = 0; c < text.size(); ++c)
            text[c] = QChar(qFromBigEndian<quint16>(
                reinterpret_cast<const uchar *>(message.constData() + at + 2 * c)));
        list.append(text);
        at += int(bytes);
    }
    if (at != message.size())
        return Parse::Invalid;
    *files = list;
    return Parse::Complete;
}

void InstanceChannel::accept(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!peerIsThisUser(*socket)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // A connection that sends nothing, or never the whole list, is dropped.
    auto *timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    timeout->start(readTimeoutMs);
    auto message = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, message] {
        *message += socket->readAll();
        QStringList files;
        const Parse parsed = decode(*message, &files);
        if (parsed == Parse::Incomplete)
            return;
        if (parsed == Parse::Invalid) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        // Answered before anyone sees the files: a handler may open a notice and wait on the
        // user, and the sender must not wait with it; the socket is not touched afterwards.
        socket->write(&Taken, 1);
        socket->flush();
        socket->disconnectFromServer();
        emit filesReceived(files);
    });
}

bool InstanceChannel::sendFiles(const QString &name, const QStringList &files, int timeoutMs)
{
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Files go to this user's own instance only.
    if (!peerIsThisUser(socket))
        return false;
    socket.write(encode(files));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Ended only once the running instance has the files, so none is lost with this process.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.read(1) == QByteArray(1, Taken);
}
