#include "audio/logging.h"

Q_LOGGING_CATEGORY(lcAudio, "tovarin.audio", QtWarningMsg)
