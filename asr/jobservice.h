#pragma once

struct JobSettings;
struct ServiceSettings;

namespace JobService {

// Copies onto a job's settings what the service settings say of the service: its kind, model,
// client id, certificates, request path and token address. The address and the secret stay the
// caller's, since each front end has its own rule for them.
void apply(const ServiceSettings &service, JobSettings *settings);

} // namespace JobService
