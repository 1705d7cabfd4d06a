#include "platform/desktopnotices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kLauncher = QStringLiteral("com.canonical.Unity.LauncherEntry");
} // namespace

DesktopNotices::DesktopNotices(const QString &desktopEntry, QObject *parent)
    : QObject(parent)
    , entry(desktopEntry)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
            SLOT(actionInvoked(uint, QString)));
}

void DesktopNotices::notify(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // The icon by the desktop entry's name, as the icon theme installs it.
    const QString icon = QFileInfo(entry).completeBaseName();
    call << QStringLiteral("Tovarin 语音转写") << shownId << icon << summary << body
         << QStringList { QStringLiteral("default"), QStringLiteral("打开") }
         << QVariantMap { { QStringLiteral("desktop-entry"), icon } } << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        // No service answers: the notice is simply not shown.
        if (!reply.isError())
            shownId = reply.value();
        w->deleteLater();
    });
}

void DesktopNotices::setLauncherProgress(double progress, bool visible)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/org/example/tovarin/launcher"), kLauncher, QStringLiteral("Update"));
    update << QString(QStringLiteral("application://") + entry)
           << QVariantMap { { QStringLiteral("progress"), qBound(0.0, progress, 1.0) },
                  { QStringLiteral("progress-visible"), visible } };
    bus.send(update);
}

void DesktopNotices::actionInvoked(uint id, const QString &action)
{
    if (id != 0 && id == shownId && action == QLatin1String("default"))
        emit activated();
}
