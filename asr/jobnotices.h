#pragma once

#include <QString>

#include "asr/jobreport.h"

// The notice a front end shows when a job ended early: the window in a message box, the
// command line after the file's name. Both show the same words, so they live here once.
namespace JobNotices {

QString text(const JobFailure &failure);

} // namespace JobNotices
