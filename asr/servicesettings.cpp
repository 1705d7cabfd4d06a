#include "asr/servicesettings.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>
#include <QUrl>

namespace {
const QString KindKey = QStringLiteral("service/kind");
const QString UrlKey = QStringLiteral("service/url");
const QString ModelKey = QStringLiteral("service/model");
const QString ClientIdKey = QStringLiteral("service/clientId");
const QString CaFileKey = QStringLiteral("service/caFile");
} // namespace

QString ServiceSettings::kindName(Kind kind)
{
    return kind == Kind::Transcriptions ? QStringLiteral("transcriptions")
                                        : QStringLiteral("token");
}

bool ServiceSettings::kindFromName(const QString &name, Kind *kind)
{
    if (name == QLatin1String("token"))
        *kind = Kind::Token;
    else if (name == QLatin1String("transcriptions"))
        *kind = Kind::Transcriptions;
    else
        return false;
    return true;
}

namespace ServiceSettingsFile {

QString folder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tovarin");
}

QString path()
{
    return folder() + QStringLiteral("/tovarin.conf");
}

ServiceSettings load(const QString &file)
{
    ServiceSettings settings;
    const QSettings ini(file, QSettings::IniFormat);
    ServiceSettings::Kind kind;
    if (ServiceSettings::kindFromName(ini.value(KindKey).toString().trimmed(), &kind))
        settings.kind = kind;
    settings.url = ini.value(UrlKey).toString().trimmed();
    const QString model = ini.value(ModelKey).toString().trimmed();
    if (!model.isEmpty())
        settings.model = model;
    settings.clientId = ini.value(ClientIdKey).toString().trimmed();
    settings.caFile = ini.value(CaFileKey).toString().trimmed();
    return settings;
}

bool save(const ServiceSettings &settings, const QString &file)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSettings ini(file, QSettings::IniFormat);
    ini.setValue(KindKey, ServiceSettings::kindName(settings.kind));
    ini.setValue(UrlKey, settings.url);
    ini.setValue(ModelKey, settings.model);
    ini.setValue(ClientIdKey, settings.clientId);
    ini.setValue(CaFileKey, settings.caFile);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

} // namespace ServiceSettingsFile

bool isPlainRemoteAddress(const QString &url)
{
    const QUrl parsed(url);
    if (parsed.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = parsed.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return false;
    const QHostAddress address(host);
    return address.isNull() || !address.isLoopback();
}
