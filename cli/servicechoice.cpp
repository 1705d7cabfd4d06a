#include "cli/servicechoice.h"

#include "asr/speechservicestarter.h"
#include "cli/cliarguments.h"

namespace ServiceChoiceRules {

ServiceChoice choose(
    const CliOptions &options, const ServiceSettings &saved, const QString &defaultServiceUrl)
{
    ServiceChoice choice;
    choice.service = saved;
    if (options.serviceSet)
        choice.service.url = options.serviceUrl;
    else if (!saved.url.isEmpty())
        choice.service.url = CliArgumentRules::serviceAddress(saved.url);
    if (!options.serviceKind.isEmpty())
        ServiceSettings::kindFromName(options.serviceKind, &choice.service.kind);
    if (!options.model.isEmpty())
        choice.service.model = options.model;
    ServiceSettings &s = choice.service;
    ChineseScript::fromName(options.script, &s.script); // empty keeps the saved script
    s.chinesePunctuation = options.chinesePunctuation.value_or(s.chinesePunctuation);
    s.arabicNumbers = options.arabicNumbers.value_or(s.arabicNumbers);
    s.spaceBetween = options.spaceBetween.value_or(s.spaceBetween);
    if (!options.requestPath.isEmpty())
        s.requestPath = options.requestPath;
    if (!options.tokenUrl.isEmpty())
        s.tokenUrl = options.tokenUrl;
    // Nothing chosen anywhere: the local service, as the window has it.
    if (choice.service.url.isEmpty())
        choice.service.url = CliArgumentRules::serviceAddress(defaultServiceUrl);
    // However it was named, and for either protocol: the built-in address gets nothing before
    // the service there proves it is the user's own.
    choice.startLocalService = SpeechServiceStarter::isBuiltInAddress(choice.service.url);
    return choice;
}

} // namespace ServiceChoiceRules
