#pragma once

#include <QString>
#include <QStringList>

namespace FontChoice {

// The family of the application font among the installed families: "微软雅黑" where it is
// installed (under its Chinese or its English name), else Noto Sans CJK SC, a simplified-Chinese
// face Debian ships; with neither, "微软雅黑", which leaves the choice to the font fallback.
QString appFontFamily(const QStringList &installedFamilies);

} // namespace FontChoice
