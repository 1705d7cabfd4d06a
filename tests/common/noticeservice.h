#pragma once

// Stands for the desktop's notification daemon on a private session bus (dbus-run-session):
// keeps what it was asked to show.
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class NoticeService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown
    {
        uint replaces;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        shown.append({ replaces, summary, body, actions });
        return uint(100 + shown.size());
    }
};
