#pragma once

#include <QLoggingCategory>

// This layer's log categories: warnings show by default, the rest through QT_LOGGING_RULES
// (for example "tovarin.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcJob)
Q_DECLARE_LOGGING_CATEGORY(lcHttp)
