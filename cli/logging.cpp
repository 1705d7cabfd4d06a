#include "cli/logging.h"

Q_LOGGING_CATEGORY(lcCli, "tovarin.cli", QtWarningMsg)
