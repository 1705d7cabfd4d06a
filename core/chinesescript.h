#pragma once

#include <QString>

// Which script recognised Chinese text is written in. Services mix simplified and traditional
// characters, even within one sentence; a target script makes every text read as one.
namespace ChineseScript {

enum class Target { AsGiven, Simplified, TraditionalTaiwan, TraditionalHongKong };

// "zh-Hans", "zh-Hant-TW", "zh-Hant-HK"; empty for AsGiven.
QString name(Target target);
// The names above, and "" or "as-given" for AsGiven; false for anything else.
bool fromName(const QString &name, Target *target);

// The text in the target script, by OpenCC's phrase tables (t2s, s2twp, s2hk), which leave
// characters already in the target script alone, so that mixed input comes out in one
// script. Taiwan's target takes Taiwan's words too (软件 → 軟體). Text without Chinese comes back
// as it was; so does everything when OpenCC's tables are missing.
QString convert(const QString &text, Target target);

} // namespace ChineseScript
