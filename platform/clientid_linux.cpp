#include "platform/clientid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

namespace {

QByteArray readTrimmed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll().trimmed();
}

// "00:1a:2b:0c:4d:5e" as bytes; only the first addrLen bytes count.
QByteArray parseAddress(const QByteArray &text, int addrLen)
{
    QByteArray bytes;
    const QList<QByteArray> parts = text.split(':');
    for (const QByteArray &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 16);
        if (!ok || value < 0 || value > 255)
            return QByteArray();
        bytes.append(static_cast<char>(value));
    }
    return addrLen >= 0 && addrLen < bytes.size() ? bytes.left(addrLen) : bytes;
}

} // namespace

namespace ClientId {

QList<Adapter> systemAdapters(const QString &sysRoot)
{
    const QDir netDir(sysRoot + QStringLiteral("/class/net"));
    struct Entry
    {
        int index;
        Adapter adapter;
    };
    QList<Entry> entries;
    const QStringList names = netDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        const QString base = netDir.filePath(name);
        Adapter adapter;
        const bool arpEthernet = readTrimmed(base + QStringLiteral("/type")) == "1";
        const bool wireless = QFileInfo::exists(base + QStringLiteral("/wireless"))
            || QFileInfo::exists(base + QStringLiteral("/phy80211"));
        adapter.type = wireless ? WirelessAdapter : arpEthernet ? EthernetAdapter : OtherAdapter;

        // Software interfaces (bridges, veth, tun) live under devices/virtual.
        const QString devicePath = QFileInfo(base).canonicalFilePath();
        const QString virtualRoot
            = QFileInfo(sysRoot + QStringLiteral("/devices/virtual")).canonicalFilePath();
        const bool isVirtual
            = !virtualRoot.isEmpty() && devicePath.startsWith(virtualRoot + QLatin1Char('/'));
        adapter.description = isVirtual ? QStringLiteral("Virtual adapter ") + name : name;

        bool lenOk = false;
        const int addrLen = readTrimmed(base + QStringLiteral("/addr_len")).toInt(&lenOk);
        adapter.address
            = parseAddress(readTrimmed(base + QStringLiteral("/address")), lenOk ? addrLen : -1);

        bool indexOk = false;
        const int index = readTrimmed(base + QStringLiteral("/ifindex")).toInt(&indexOk);
        entries.append({ indexOk ? index : INT_MAX, adapter });
    }
    std::stable_sort(entries.begin(), entries.end(),
        [](const Entry &a, const Entry &b) { return a.index < b.index; });
    QList<Adapter> adapters;
    for (const Entry &entry : entries)
        adapters.append(entry.adapter);
    return adapters;
}

} // namespace ClientId
