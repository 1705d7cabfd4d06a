#include "platform/logging.h"

Q_LOGGING_CATEGORY(lcPlatform, "tovarin.platform", QtWarningMsg)
