#pragma once

#include <QString>

#include "asr/jobreport.h"

// What the window's start button shows of a job's step.
namespace JobStatusTexts {

// "开始转换" when idle, "分割:33.3%" and "转写:33.3%" (one decimal) while segments are cut and
// recognised, "重申请: 7秒" while the service is busy, "续转:第3段" when a file goes on where an
// earlier run ended (segments counted from 1).
QString buttonText(const JobStatus &status);

} // namespace JobStatusTexts
