#pragma once

#include "service/http/service_limits.h"

namespace speech {

class OptionSet;
extern const char *const kLimitsSection;
// Declares the options of the limits ("--max-headers" and so on), read into `limits`.
void declareLimitOptions(OptionSet &options, ServiceLimits &limits);

} // namespace speech
