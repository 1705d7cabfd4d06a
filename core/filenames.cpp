#include "core/filenames.h"

namespace FileNames {

QString fileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString withoutSuffix(const QString &path)
{
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= nameStart ? path.left(dot) : path;
}

QString suffix(const QString &path)
{
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= nameStart ? path.mid(dot + 1) : QString();
}

QString beforeFirstDot(const QString &name)
{
    const int dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString transcriptName(const QString &taskPath)
{
    return withoutSuffix(fileName(taskPath)) + QStringLiteral(".txt");
}

QString withSlashes(const QString &path)
{
    QString result = path;
    return result.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString firstPathNamed(const QStringList &paths, const QString &name)
{
    for (const QString &path : paths) {
        if (fileName(path) == name)
            return path;
    }
    return QString();
}

} // namespace FileNames
