#include "core/clocktime.h"

#include <QRegularExpression>

namespace ClockTime {

std::optional<qint64> parseMs(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,6}):([0-5]\\d):([0-5]\\d)(?:\\.(\\d{1,3}))?$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    // "7.5" is 7 s 500 ms, not 7 s 5 ms.
    const QString fraction = match.captured(4).leftJustified(3, QLatin1Char('0'));
    return ((match.captured(1).toLongLong() * 60 + match.captured(2).toInt()) * 60
               + match.captured(3).toInt())
        * 1000
        + fraction.toInt();
}

} // namespace ClockTime
