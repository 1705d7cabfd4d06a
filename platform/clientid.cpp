#include "platform/clientid.h"

namespace ClientId {

QString fromAdapters(const QList<Adapter> &adapters)
{
    QString id;
    for (const Adapter &adapter : adapters) {
        const bool qualifies = adapter.type == EthernetAdapter
            && !adapter.description.contains(QLatin1String("virtual"), Qt::CaseInsensitive);
        if (qualifies) {
            for (int i = 0; i < adapter.address.size(); ++i) {
                if (i > 0)
                    id += QLatin1Char('-');
                id += QString::number(static_cast<unsigned char>(adapter.address.at(i)), 16);
            }
        }
        if (!id.isEmpty())
            break;
    }
    return id;
}

} // namespace ClientId
