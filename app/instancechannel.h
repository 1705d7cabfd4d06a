#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

// Lets a second start hand the files it was given to the instance that already runs, beside the
// single-instance guard: the running instance listens on a local socket in the user's private
// runtime folder, a later start connects, sends its files and waits until they were taken. Each
// end makes sure the other is a process of the same user.
class InstanceChannel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InstanceChannel)

public:
    enum class Parse { Incomplete, Complete, Invalid };
    // Bounds of a message: far above a list a file manager hands over, far below harm.
    static constexpr int MaxFiles = 10000;
    static constexpr int MaxMessageBytes = 4 * 1024 * 1024;

    explicit InstanceChannel(const QString &name, QObject *parent = nullptr);

    // The socket of this user's running instance, in the private runtime folder; empty when
    // that folder cannot be made private.
    static QString defaultName(QString *error = nullptr);
    // The guard's lock file beside it.
    static QString defaultLockFile(QString *error = nullptr);

    // The running instance: listens for later starts. False when it cannot (nothing is handed
    // over then, and a later start shows its notice instead).
    bool listen();
    // How long a later start may take to send its list before it is dropped.
    void setReadTimeoutMs(int ms) { readTimeoutMs = ms; }

    // A later start: sends the files and waits, at most timeoutMs, until the running instance has
    // taken them. False when no instance of this user listens or it did not answer.
    static bool sendFiles(const QString &name, const QStringList &files, int timeoutMs = 5000);

    // The message as a later start writes it (a QDataStream of the list)...
    static QByteArray encode(const QStringList &files);
    // ...and read back within the bounds above, without allocating what a count claims before
    // the bytes are there.
    static Parse decode(const QByteArray &message, QStringList *files);

    // True when the process at the other end of the connected local socket runs as this user.
    static bool peerIsThisUser(QLocalSocket &socket);

signals:
    // Files a later start handed over; the sender has its answer already.
    void filesReceived(const QStringList &files);

private:
    void accept(QLocalSocket *socket);

    QString serverName;
    QLocalServer server;
    int readTimeoutMs = 5000;
};
