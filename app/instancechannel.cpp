#include "app/instancechannel.h"

#include <QDataStream>
#include <QLocalSocket>

#include <unistd.h>

namespace {
// A list of paths never comes near this; anything bigger is not a later start of ours.
const qint64 MaxMessageBytes = 4 * 1024 * 1024;
const char Taken = '1';
} // namespace

InstanceChannel::InstanceChannel(const QString &name, QObject *parent)
    : QObject(parent)
    , serverName(name)
{
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        }
    });
}

QString InstanceChannel::defaultName()
{
    // One per user: another user's instance must never receive this user's files.
    return QStringLiteral("TovarinOpened-%1").arg(::getuid());
}

bool InstanceChannel::listen()
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (server.listen(serverName))
        return true;
    // A socket file left by an instance that was killed; the guard says none runs now.
    QLocalServer::removeServer(serverName);
    return server.listen(serverName);
}

void InstanceChannel::readFrom(QLocalSocket *socket)
{
    if (socket->bytesAvailable() > MaxMessageBytes) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.startTransaction();
    QStringList files;
    in >> files;
    if (!in.commitTransaction())
        return; // the rest is still on its way
    emit filesReceived(files);
    socket->write(&Taken, 1);
    socket->flush();
    socket->disconnectFromServer();
}

bool InstanceChannel::sendFiles(const QString &name, const QStringList &files, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << files;
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Ended only once the running instance has the files, so none is lost with this process.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.read(1) == QByteArray(1, Taken);
}
