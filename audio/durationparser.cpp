#include "audio/durationparser.h"

#include <QRegularExpression>

#include <algorithm>
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

bool parseMilliseconds(const QString &text, qint64 *milliseconds)
{
    const int start = lineStart(text);
    if (start < 0)
        return false;
    QString line = text.mid(start);
    const int lineEnd = line.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (lineEnd >= 0)
        line.truncate(lineEnd);

    const QString field = line.section(QLatin1Char(','), 0, 0).section(QLatin1Char(' '), -1, -1);
    const QString time = field.section(QLatin1Char('.'), 0, 0);
    // Each field bounded, so that no sum below can overflow.
    const auto number = [&time](int part) {
        return qBound<qint64>(0, numberOrZero(time.section(QLatin1Char(':'), part, part)),
            std::numeric_limits<int>::max());
    };
    const qint64 hours = number(0);
    const qint64 minutes = number(1);
    const qint64 secs = number(-1);
    // "58.99" is 990 ms, "58.5" 500 ms: the digits after the point, to three places.
    const QString fraction = field.section(QLatin1Char('.'), 1, 1).left(3);
    const bool digits = !fraction.isEmpty()
        && std::all_of(fraction.begin(), fraction.end(), [](QChar c) { return c.isDigit(); });
    const qint64 ms = digits ? fraction.leftJustified(3, QLatin1Char('0')).toLongLong() : 0;
    *milliseconds = qMax<qint64>(0, ((hours * 60 + minutes) * 60 + secs) * 1000 + ms);
    return true;
}

bool parseSeconds(const QString &text, int *seconds)
{
    qint64 ms = 0;
    if (!parseMilliseconds(text, &ms))
        return false;
    *seconds = int(qBound<qint64>(0, ms / 1000, std::numeric_limits<int>::max()));
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
