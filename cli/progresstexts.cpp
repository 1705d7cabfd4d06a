#include "cli/progresstexts.h"

#include "audio/audiotexts.h"

#include <QtGlobal>

namespace ProgressTexts {

namespace {

QString clock(qint64 ms)
{
    return AudioTexts::clockText(int(ms / 1000));
}

QString timesText(const RunProgress &progress)
{
    const qint64 left = remainingMs(progress.elapsedMs, fractionDone(progress));
    return left < 0
        ? QStringLiteral("%1 elapsed").arg(clock(progress.elapsedMs))
        : QStringLiteral("%1 elapsed, about %2 left").arg(clock(progress.elapsedMs), clock(left));
}

QString stepText(const RunProgress &progress)
{
    if (progress.segment <= 0 || progress.segmentCount <= 0)
        return QStringLiteral("preparing");
    return QStringLiteral("segment %1 of %2").arg(progress.segment).arg(progress.segmentCount);
}

} // namespace

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            shown += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

double fractionDone(const RunProgress &progress)
{
    if (progress.fileCount <= 0)
        return 1.0;
    const double done = (progress.filesEnded + progress.runningFraction) / progress.fileCount;
    return qBound(0.0, done, 1.0);
}

qint64 remainingMs(qint64 elapsedMs, double fractionDone)
{
    if (fractionDone <= 0 || elapsedMs <= 0)
        return -1;
    if (fractionDone >= 1)
        return 0;
    return qint64(elapsedMs * (1.0 - fractionDone) / fractionDone + 0.5);
}

QString line(const RunProgress &progress)
{
    return QStringLiteral("[%1/%2] %3: %4, %5")
        .arg(progress.fileNumber)
        .arg(progress.fileCount)
        .arg(printable(progress.fileName), stepText(progress), timesText(progress));
}

QString bar(const RunProgress &progress, int width)
{
    const int cells = 10;
    const double done = fractionDone(progress);
    const int filled = int(done * cells);
    const QString gauge
        = QString(filled, QLatin1Char('#')) + QString(cells - filled, QLatin1Char('-'));
    const QString step = progress.segment > 0 && progress.segmentCount > 0
        ? QStringLiteral("segment %1/%2").arg(progress.segment).arg(progress.segmentCount)
        : QStringLiteral("preparing");
    const qint64 left = remainingMs(progress.elapsedMs, done);
    const QString times = left < 0
        ? clock(progress.elapsedMs)
        : QStringLiteral("%1, ~%2 left").arg(clock(progress.elapsedMs), clock(left));
    // The name last: a narrow terminal cuts the name, not the figures.
    QString text = QStringLiteral("[%1] %2% file %3/%4  %5  %6  %7")
                       .arg(gauge)
                       .arg(int(done * 100), 3)
                       .arg(progress.fileNumber)
                       .arg(progress.fileCount)
                       .arg(step, times, printable(progress.fileName));
    if (width > 0 && text.size() > width)
        text.truncate(width);
    return text;
}

QString summary(const RunSummary &summary)
{
    QString text = QStringLiteral("done %1, skipped %2, failed %3\n")
                       .arg(summary.done)
                       .arg(summary.skipped)
                       .arg(summary.failures.size());
    for (const RunSummary::Failure &failure : summary.failures)
        text += QStringLiteral("failed: %1: %2\n").arg(printable(failure.file), printable(failure.message));
    if (summary.undecodableNames > 0)
        text += QStringLiteral("not transcribed: %1 file(s) whose names are not valid UTF-8\n")
                    .arg(summary.undecodableNames);
    if (!summary.outputLink.isEmpty())
        text += QStringLiteral("output folder '%1' is a link to '%2'\n")
                    .arg(printable(summary.outputLink), printable(summary.outputLinkTarget));
    return text;
}

} // namespace ProgressTexts
