#include "cli/languagelist.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

#include "asr/jobservice.h"
#include "asr/recognitionrequest.h"
#include "asr/secretstore.h"
#include "asr/servicelanguages.h"
#include "cli/servicechoice.h"

namespace LanguageList {

JobSettings serviceOf(const ServiceChoice &choice, const QString &secret)
{
    const ServiceSettings &service = choice.service;
    JobSettings settings;
    settings.serviceBaseUrl = service.url;
    JobService::apply(service, &settings);
    settings.serviceSecret = secret;
    return settings;
}

QString secretFor(const ServiceChoice &choice, const QString &secretFile)
{
    QString secret = SecretStore::environmentSecret();
    if (secret.isEmpty() && !secretFile.isEmpty())
        SecretFile::read(secretFile, &secret);
    const bool needsStored = choice.service.kind == ServiceSettings::Kind::Transcriptions
        || !choice.service.clientId.isEmpty();
    if (secret.isEmpty() && secretFile.isEmpty() && needsStored) {
        SecretStore store;
        QEventLoop loop;
        QObject::connect(
            &store, &SecretStore::readDone, &loop, [&](const QString &stored, SecretStore::Place) {
                secret = stored;
                loop.quit();
            });
        QTimer::singleShot(0, &store, &SecretStore::read);
        loop.exec();
    }
    return secret.trimmed();
}

QString refusal(const JobSettings &service, const QString &language)
{
    QStringList offered;
    if (!ServiceLanguages::cached(ServiceLanguages::serviceKey(service), &offered)
        || offered.contains(language))
        return QString();
    return ServiceLanguages::notOfferedText(language, offered);
}

int print(const JobSettings &service, const QString &program, const QString &serviceProgram)
{
    LanguageProbe probe;
    probe.setServiceProgram(serviceProgram);
    int status = 1;
    QObject::connect(
        &probe, &LanguageProbe::finished, &probe, [&](bool known, const QStringList &offered) {
            if (!known) {
                std::fputs(qPrintable(QStringLiteral("%1: the service at %2 did not say which "
                                                     "languages it has\n")
                                          .arg(program, service.serviceBaseUrl)),
                    stderr);
                QCoreApplication::exit(1);
                return;
            }
            ServiceLanguages::keep(ServiceLanguages::serviceKey(service), offered);
            for (const RecognitionLanguage &language : recognitionLanguages()) {
                const QString line
                    = QStringLiteral("%1\t%2\t%3\t%4\n")
                          .arg(language.shortName, language.text)
                          .arg(language.devPid)
                          .arg(offered.contains(language.text) ? QStringLiteral("available")
                                                               : QStringLiteral("no model"));
                std::fputs(line.toUtf8().constData(), stdout);
            }
            status = 0;
            QCoreApplication::exit(0);
        });
    // Started from the loop, so that an answer given at once still ends it.
    QTimer::singleShot(0, &probe, [&] { probe.start(service); });
    QCoreApplication::exec();
    return status;
}

} // namespace LanguageList
