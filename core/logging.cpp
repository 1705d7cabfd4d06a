#include "core/logging.h"

Q_LOGGING_CATEGORY(lcCore, "tovarin.core", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSearch, "tovarin.search", QtWarningMsg)
