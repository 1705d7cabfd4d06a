#include "audio/durationparser.h"

#include <QRegularExpression>

#include <limits>

namespace DurationParser {

namespace {

// The description's own line; the input's file name, printed above it, may hold the word too.
int lineStart(const QString &text)
{
    static const QRegularExpression line(QStringLiteral("(?:^|[\r\n])[ \t]*(Duration:)"));
    const QRegularExpressionMatch match = line.match(text);
    return match.hasMatch() ? match.capturedStart(1) : -1;
}

qint64 numberOrZero(const QString &field)
{
    bool ok = false;
    const qint64 value = field.toLongLong(&ok);
    return ok ? value : 0;
}

} // namespace

bool parseSeconds(const QString &text, int *seconds)
{
    const int start = lineStart(text);
    if (start < 0)
        return false;
    QString line = text.mid(start);
    const int lineEnd = line.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (lineEnd >= 0)
        line.truncate(lineEnd);

    const QString time = line.section(QLatin1Char('.'), 0, 0).section(QLatin1Char(' '), -1, -1);
    const qint64 hours = numberOrZero(time.section(QLatin1Char(':'), 0, 0));
    const qint64 minutes = numberOrZero(time.section(QLatin1Char(':'), 1, 1));
    const qint64 secs = numberOrZero(time.section(QLatin1Char(':'), -1, -1));
    const qint64 total = secs + (minutes + hours * 60) * 60;
    *seconds = int(qBound<qint64>(0, total, std::numeric_limits<int>::max()));
    return true;
}

bool hasCompleteLine(const QString &text)
{
    const int start = lineStart(text);
    if (start < 0)
        return false;
    return text.indexOf(QLatin1Char('\n'), start) >= 0
        || text.indexOf(QLatin1Char('\r'), start) >= 0;
}

} // namespace DurationParser
