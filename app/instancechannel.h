#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

// Lets a second start hand the files it was given to the instance that already runs, beside the
// single-instance guard: the running instance listens on a local socket of the user's own, a
// later start connects, sends its files and waits until they were taken.
class InstanceChannel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(InstanceChannel)

public:
    explicit InstanceChannel(const QString &name, QObject *parent = nullptr);

    // The socket name of this user's running instance.
    static QString defaultName();

    // The running instance: listens for later starts. False when it cannot (nothing is handed
    // over then, and a later start shows its notice instead).
    bool listen();

    // A later start: sends the files and waits, at most timeoutMs, until the running instance has
    // taken them. False when no instance listens or it did not answer.
    static bool sendFiles(const QString &name, const QStringList &files, int timeoutMs = 5000);

signals:
    // Files a later start handed over; the sender has already ended or is about to.
    void filesReceived(const QStringList &files);

private:
    void readFrom(class QLocalSocket *socket);

    QString serverName;
    QLocalServer server;
};
