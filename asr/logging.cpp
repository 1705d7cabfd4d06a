#include "asr/logging.h"

Q_LOGGING_CATEGORY(lcJob, "tovarin.job", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHttp, "tovarin.http", QtWarningMsg)
