#include "asr/servicesettings.h"

#include "asr/recognitionrequest.h"
#include "core/programlayout.h"
#include "protocol/speechprotocol.h"

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
const QString RequestPathKey = QStringLiteral("service/requestPath");
const QString TokenUrlKey = QStringLiteral("service/tokenUrl");
const QString ScriptKey = QStringLiteral("text/script");
const QString PunctuationKey = QStringLiteral("text/chinesePunctuation");
const QString SpaceKey = QStringLiteral("text/spaceBetween");
const QString NumbersKey = QStringLiteral("text/arabicNumbers");

bool boolValue(const QSettings &ini, const QString &key, bool fallback)
{
    const QString text = ini.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return fallback;
}
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

QString ServiceSettings::tokenBaseAddress() const
{
    QString base = tokenUrl.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString path = QLatin1String(speechprotocol::path::kToken);
    if (base.endsWith(path))
        base.chop(path.size());
    return base;
}

TextRules ServiceSettings::textRules(const QString &languageText, const UserTerms &terms) const
{
    TextRules rules;
    rules.script = script;
    bool chinese = false;
    for (const RecognitionLanguage &language : recognitionLanguages())
        chinese = chinese
            || (language.text == languageText
                && (language.shortName.startsWith(QLatin1String("zh"))
                    || language.shortName == QLatin1String("yue")));
    rules.chinesePunctuation = chinesePunctuation && chinese;
    rules.spaceBetween = spaceBetween && chinese;
    rules.arabicNumbers = arabicNumbers;
    rules.terms = terms;
    return rules;
}

namespace ServiceSettingsFile {

QString folder()
{
    return ProgramLayout::userConfigFolder();
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
    settings.requestPath = ini.value(RequestPathKey).toString().trimmed();
    settings.tokenUrl = ini.value(TokenUrlKey).toString().trimmed();
    ChineseScript::Target script;
    if (ChineseScript::fromName(ini.value(ScriptKey).toString().trimmed(), &script))
        settings.script = script;
    settings.chinesePunctuation = boolValue(ini, PunctuationKey, settings.chinesePunctuation);
    settings.spaceBetween = boolValue(ini, SpaceKey, settings.spaceBetween);
    settings.arabicNumbers = boolValue(ini, NumbersKey, settings.arabicNumbers);
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
    ini.setValue(RequestPathKey, settings.requestPath);
    ini.setValue(TokenUrlKey, settings.tokenUrl);
    ini.setValue(ScriptKey, ChineseScript::name(settings.script));
    ini.setValue(PunctuationKey, settings.chinesePunctuation);
    ini.setValue(SpaceKey, settings.spaceBetween);
    ini.setValue(NumbersKey, settings.arabicNumbers);
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
