#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The client identifier that recognition requests carry, taken from the first wired adapter.
namespace ClientId {

// Adapter types as the Windows IP helper numbers them; the Linux walk maps onto them.
enum AdapterType {
    OtherAdapter = 1,
    EthernetAdapter = 6,
    WirelessAdapter = 71,
};

struct Adapter
{
    int type = OtherAdapter;
    QString description;
    QByteArray address;
};

// Walks the adapters in order and returns the address of the first Ethernet adapter whose
// description lacks "virtual" (any case), as lower-case hex bytes without leading zero joined
// by "-". An adapter without address bytes adds nothing and the walk goes on; none gives "".
QString fromAdapters(const QList<Adapter> &adapters);

// The machine's adapters in the kernel's interface order, read below sysRoot ("/sys").
QList<Adapter> systemAdapters(const QString &sysRoot = QStringLiteral("/sys"));

} // namespace ClientId
