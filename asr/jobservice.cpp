#include "asr/jobservice.h"

#include "asr/servicesettings.h"
#include "asr/transcriptionjob.h"

namespace JobService {

void apply(const ServiceSettings &service, JobSettings *settings)
{
    settings->serviceKind = service.kind == ServiceSettings::Kind::Transcriptions
        ? JobSettings::ServiceKind::Transcriptions
        : JobSettings::ServiceKind::Token;
    settings->model = service.model;
    settings->serviceClientId = service.clientId;
    settings->caFile = service.caFile;
    settings->requestPath = service.requestPath;
    settings->tokenBaseUrl = service.tokenBaseAddress();
}

} // namespace JobService
