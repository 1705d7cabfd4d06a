#include "platform/captureinput.h"

namespace CaptureInput {

bool isAlsaDeviceName(const QString &deviceName)
{
    // ALSA names carry their card and device after a colon; a few plug-ins stand alone.
    if (deviceName.contains(QLatin1Char(':')))
        return true;
    static const QStringList bareAlsaNames = {
        QStringLiteral("default"),
        QStringLiteral("sysdefault"),
        QStringLiteral("pulse"),
        QStringLiteral("null"),
        QStringLiteral("dsnoop"),
        QStringLiteral("dmix"),
        QStringLiteral("plug"),
        QStringLiteral("hw"),
        QStringLiteral("plughw"),
    };
    return bareAlsaNames.contains(deviceName);
}

QStringList usableNames(const QList<ListedDevice> &devices, const QString &serverDefault)
{
    const QString alias = QStringLiteral("default");
    QStringList server;
    QStringList cards;
    QStringList bare;
    for (const ListedDevice &device : devices) {
        if (device.name == alias || device.name.isEmpty())
            continue;
        if (!device.alsa)
            server << device.name;
        else
            (device.name.contains(QLatin1Char(':')) ? cards : bare) << device.name;
    }
    if (server.contains(serverDefault))
        server.move(server.indexOf(serverDefault), 0);
    const QStringList usable = server + cards;
    return usable.isEmpty() ? bare : usable;
}

QStringList argumentsFor(const QString &deviceName)
{
#ifdef Q_OS_WIN
    return { QStringLiteral("-f"), QStringLiteral("dshow"), QStringLiteral("-i"),
        QStringLiteral("audio=") + deviceName };
#else
    const QString format
        = isAlsaDeviceName(deviceName) ? QStringLiteral("alsa") : QStringLiteral("pulse");
    return { QStringLiteral("-f"), format, QStringLiteral("-i"), deviceName };
#endif
}

} // namespace CaptureInput
