#pragma once

#include <QObject>
#include <QString>

// The desktop's own notices and launcher, over the session bus: a notice through
// org.freedesktop.Notifications, whose activation the program is told of, and the launcher
// entry's progress through com.canonical.Unity.LauncherEntry (read by KDE Plasma and the
// common docks). Every call is asynchronous: without a session bus or a notification service
// nothing happens and nothing waits.
class DesktopNotices : public QObject
{
    Q_OBJECT

public:
    // desktopEntry: the program's desktop file name ("org.example.tovarin.desktop").
    explicit DesktopNotices(const QString &desktopEntry, QObject *parent = nullptr);

    // Shows a notice, replacing the one this object showed before.
    void notify(const QString &summary, const QString &body);
    // The launcher entry's progress (0 to 1); visible false hides it.
    void setLauncherProgress(double progress, bool visible);

signals:
    // The user clicked the notice (its default action).
    void activated();

private slots:
    void actionInvoked(uint id, const QString &action);

private:
    QString entry;
    uint shownId = 0;
};
