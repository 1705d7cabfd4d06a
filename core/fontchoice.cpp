#include "core/fontchoice.h"

QString FontChoice::appFontFamily(const QStringList &installedFamilies)
{
    const QString yahei = QString::fromUtf8("微软雅黑");
    // The name as the platform lists it, so that the font is found without an alias.
    for (const QString &name :
        { yahei, QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC") }) {
        if (installedFamilies.contains(name, Qt::CaseInsensitive))
            return name;
    }
    return yahei;
}
