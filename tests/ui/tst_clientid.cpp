#include "platform/clientid.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using ClientId::Adapter;

Q_DECLARE_METATYPE(QList<ClientId::Adapter>)

namespace {

Adapter adapter(int type, const char *description, const QByteArray &address)
{
    Adapter a;
    a.type = type;
    a.description = QString::fromUtf8(description);
    a.address = address;
    return a;
}

const QByteArray kExample = QByteArray::fromHex("001a2b0c4d5e");

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// One interface of a made-up /sys: the device folder and the class/net link to it.
void addInterface(const QString &root, const QString &devicePath, const QString &name,
    const QByteArray &type, const QByteArray &address, int ifindex, bool wireless = false)
{
    const QString dev = root + QStringLiteral("/devices/") + devicePath + QLatin1Char('/') + name;
    QVERIFY(QDir().mkpath(dev));
    writeFile(dev + QStringLiteral("/type"), type + '\n');
    writeFile(dev + QStringLiteral("/address"), address + '\n');
    writeFile(dev + QStringLiteral("/addr_len"), QByteArray::number(address.isEmpty() ? 0 : 6));
    writeFile(dev + QStringLiteral("/ifindex"), QByteArray::number(ifindex) + '\n');
    if (wireless)
        QVERIFY(QDir().mkpath(dev + QStringLiteral("/wireless")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/class/net")));
    QVERIFY(QFile::link(dev, root + QStringLiteral("/class/net/") + name));
}

} // namespace

class TestClientId : public QObject
{
    Q_OBJECT

private slots:
    void rule_data()
    {
        QTest::addColumn<QList<Adapter>>("adapters");
        QTest::addColumn<QString>("expected");
        const int eth = ClientId::EthernetAdapter;
        const int wifi = ClientId::WirelessAdapter;

        QTest::newRow("example") << QList<Adapter> { adapter(eth, "Intel Ethernet", kExample) }
                                 << QStringLiteral("0-1a-2b-c-4d-5e");
        QTest::newRow("no adapter") << QList<Adapter> {} << QString();
        QTest::newRow("virtual in any case skipped")
            << QList<Adapter> { adapter(eth, "Hyper-V VIRTUAL Ethernet", QByteArray::fromHex("aa")),
                   adapter(eth, "virtualbox host-only", QByteArray::fromHex("bb")),
                   adapter(eth, "Realtek PCIe", QByteArray::fromHex("0fff")) }
            << QStringLiteral("f-ff");
        QTest::newRow("only virtual")
            << QList<Adapter> { adapter(eth, "VMware Virtual Ethernet Adapter", kExample) }
            << QString();
        QTest::newRow("wireless never, whatever its description")
            << QList<Adapter> { adapter(wifi, "Ethernet", kExample) } << QString();
        QTest::newRow("empty address adds nothing, walk goes on") << QList<Adapter> {
            adapter(eth, "first", QByteArray()), adapter(eth, "second", QByteArray::fromHex("0102"))
        } << QStringLiteral("1-2");
        QTest::newRow("first qualifying wins")
            << QList<Adapter> { adapter(ClientId::OtherAdapter, "loopback", QByteArray(6, '\0')),
                   adapter(eth, "one", QByteArray::fromHex("10")),
                   adapter(eth, "two", QByteArray::fromHex("20")) }
            << QStringLiteral("10");
    }

    void rule()
    {
        QFETCH(QList<Adapter>, adapters);
        QFETCH(QString, expected);
        QCOMPARE(ClientId::fromAdapters(adapters), expected);
    }

    // The Linux walk on a made-up /sys: kernel order, ARP type, wireless and virtual devices.
    void linuxWalk()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString r = root.path();
        addInterface(
            r, QStringLiteral("virtual/net"), QStringLiteral("lo"), "772", "00:00:00:00:00:00", 1);
        addInterface(r, QStringLiteral("virtual/net"), QStringLiteral("docker0"), "1",
            "02:42:ac:11:00:01", 2);
        addInterface(r, QStringLiteral("pci0000:00/0000:00:14.3/net"), QStringLiteral("wlp0s20f3"),
            "1", "a0:b1:c2:d3:e4:f5", 3, true);
        addInterface(r, QStringLiteral("pci0000:00/0000:00:1f.6/net"), QStringLiteral("enp0s31f6"),
            "1", "00:1a:2b:0c:4d:5e", 10);
        // Listed before enp0s31f6 by name but later by interface index.
        addInterface(r, QStringLiteral("pci0000:00/0000:00:1c.0/net"), QStringLiteral("eno1"), "1",
            "11:22:33:44:55:66", 11);

        const QList<Adapter> adapters = ClientId::systemAdapters(r);
        QCOMPARE(adapters.size(), 5);
        QCOMPARE(adapters.at(0).type, int(ClientId::OtherAdapter));
        QVERIFY(adapters.at(1).description.contains(QLatin1String("Virtual")));
        QCOMPARE(adapters.at(2).type, int(ClientId::WirelessAdapter));
        QCOMPARE(adapters.at(3).address, kExample);
        QCOMPARE(ClientId::fromAdapters(adapters), QStringLiteral("0-1a-2b-c-4d-5e"));
        QVERIFY(ClientId::systemAdapters(r + QStringLiteral("/missing")).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestClientId)
#include "tst_clientid.moc"
