// The desktop's notices and launcher progress through a real private session bus
// (dbus-run-session), answered by a small notification service of this test's own; and the
// same calls with no session bus at all.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QtTest>

#include "common/noticeservice.h"
#include "platform/desktopnotices.h"

namespace {
const QString kEntry = QStringLiteral("org.example.tovarin.desktop");
}

// Hears the launcher entry's updates.
class LauncherListener : public QObject
{
    Q_OBJECT

public:
    QList<QPair<QString, QVariantMap>> updates;

public slots:
    void update(const QString &uri, const QVariantMap &properties)
    {
        updates.append({ uri, properties });
    }
};

class DesktopBusTest : public QObject
{
    Q_OBJECT

private slots:
    void noticeAndItsActivation();
    void launcherProgress();
    void withoutABusNothingHappens();
};

void DesktopBusTest::noticeAndItsActivation()
{
    if (!qEnvironmentVariableIsSet("TOV_PRIVATE_BUS"))
        QSKIP("run under dbus-run-session (tst_desktopbus_private)");
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    // A notice while no service runs is lost, and waits for nothing.
    DesktopNotices notices(kEntry);
    QSignalSpy activated(&notices, &DesktopNotices::activated);
    notices.notify(QStringLiteral("lost"), QString());

    QDBusConnection daemon
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("daemon"));
    NoticeService service;
    QVERIFY(daemon.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
        QDBusConnection::ExportAllSlots));
    QVERIFY(daemon.registerService(QStringLiteral("org.freedesktop.Notifications")));

    notices.notify(QStringLiteral("转写完成"), QStringLiteral("2个文件"));
    QTRY_COMPARE_WITH_TIMEOUT(service.shown.size(), 1, 30000);
    QCOMPARE(service.shown[0].summary, QStringLiteral("转写完成"));
    QCOMPARE(service.shown[0].body, QStringLiteral("2个文件"));
    QCOMPARE(service.shown[0].replaces, 0u);
    QVERIFY(service.shown[0].actions.contains(QStringLiteral("default")));

    // Another program's notice clicked: not ours. Then ours.
    const auto invoke = [&daemon](uint id) {
        QDBusMessage signal
            = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("default");
        QVERIFY(daemon.send(signal));
    };
    invoke(7);
    invoke(101);
    QVERIFY(activated.wait(30000));
    QCOMPARE(activated.size(), 1);

    // The next notice takes the place of the first.
    notices.notify(QStringLiteral("转写失败"), QStringLiteral("1个文件"));
    QTRY_COMPARE_WITH_TIMEOUT(service.shown.size(), 2, 30000);
    QCOMPARE(service.shown[1].replaces, 101u);
    daemon.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

void DesktopBusTest::launcherProgress()
{
    if (!qEnvironmentVariableIsSet("TOV_PRIVATE_BUS"))
        QSKIP("run under dbus-run-session (tst_desktopbus_private)");
    QDBusConnection dock
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
    LauncherListener listener;
    QVERIFY(dock.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
        QStringLiteral("Update"), &listener, SLOT(update(QString, QVariantMap))));
    DesktopNotices notices(kEntry);
    notices.setLauncherProgress(0.25, true);
    notices.setLauncherProgress(1.5, false);
    QTRY_COMPARE_WITH_TIMEOUT(listener.updates.size(), 2, 30000);
    QCOMPARE(
        listener.updates[0].first, QStringLiteral("application://org.example.tovarin.desktop"));
    QCOMPARE(listener.updates[0].second.value(QStringLiteral("progress")).toDouble(), 0.25);
    QCOMPARE(listener.updates[0].second.value(QStringLiteral("progress-visible")).toBool(), true);
    QCOMPARE(listener.updates[1].second.value(QStringLiteral("progress")).toDouble(), 1.0);
    QCOMPARE(listener.updates[1].second.value(QStringLiteral("progress-visible")).toBool(), false);
}

void DesktopBusTest::withoutABusNothingHappens()
{
    if (qEnvironmentVariableIsSet("TOV_PRIVATE_BUS"))
        QSKIP("run without a session bus (tst_desktopbus)");
    QVERIFY(!QDBusConnection::sessionBus().isConnected());
    DesktopNotices notices(kEntry);
    QSignalSpy activated(&notices, &DesktopNotices::activated);
    notices.notify(QStringLiteral("转写完成"), QString());
    notices.setLauncherProgress(0.5, true);
    QCOMPARE(activated.size(), 0);
}

QTEST_GUILESS_MAIN(DesktopBusTest)
#include "tst_desktopbus.moc"
