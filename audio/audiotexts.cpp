#include "audio/audiotexts.h"

namespace AudioTexts {

namespace {

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString hhmmss(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return twoDigits(seconds / 3600) + QLatin1Char(':') + twoDigits(seconds / 60 % 60)
        + QLatin1Char(':') + twoDigits(seconds % 60);
}

} // namespace

QString clockText(int seconds)
{
    const qint64 s = qMax(0, seconds) % 86400;
    return hhmmss(s * 1000);
}

QString playPositionText(qint64 currentMs, qint64 totalMs)
{
    if (currentMs == 0 && totalMs == 0)
        return QString();
    QString text = hhmmss(qMax<qint64>(0, currentMs));
    if (totalMs != 0)
        text += QStringLiteral(" / ") + hhmmss(qMax<qint64>(0, totalMs));
    return text;
}

QString recordFilePath(const QString &folder, const QDateTime &now,
    const std::function<bool(const QString &path)> &isTaken)
{
    const QString base = folder + QLatin1Char('/') + now.toString(QStringLiteral("yyMMdd_hhmmss"));
    QString path = base + QStringLiteral(".wav");
    for (int n = 1; isTaken(path); ++n)
        path = base + QStringLiteral("_%1.wav").arg(n);
    return path;
}

} // namespace AudioTexts
