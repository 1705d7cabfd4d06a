#pragma once

#include <QString>

#include "asr/servicesettings.h"

struct CliOptions;

// The service a run of the command line uses: the options given, otherwise the saved settings,
// otherwise the built-in local address. At the built-in address the local service is proven the
// user's own before each request, and started when nothing answers.
struct ServiceChoice
{
    ServiceSettings service;
    bool startLocalService = false;
};

namespace ServiceChoiceRules {

ServiceChoice choose(
    const CliOptions &options, const ServiceSettings &saved, const QString &defaultServiceUrl);

} // namespace ServiceChoiceRules
