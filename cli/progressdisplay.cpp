#include "cli/progressdisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

ProgressDisplay::ProgressDisplay(std::FILE *stream, bool quiet)
    : stream(stream)
    , quiet(quiet)
    , terminal(::isatty(::fileno(stream)) == 1)
{ }

void ProgressDisplay::show(const RunProgress &progress, bool tick)
{
    if (quiet)
        return;
    if (!terminal) {
        // A log gets a line per step (a file begun, a segment sent), not one per tick of the
        // clock or per cut.
        const QString step = QStringLiteral("%1/%2").arg(progress.fileNumber).arg(progress.segment);
        if (!tick && step != lastStep)
            write(stream, ProgressTexts::line(progress) + QLatin1Char('\n'));
        lastStep = step;
        return;
    }
    barText = ProgressTexts::bar(progress, width() - 1);
    write(stream, QLatin1Char('\r') + barText + QStringLiteral("\x1b[K"));
}

void ProgressDisplay::message(const QString &message, bool step)
{
    if (quiet && step)
        return;
    // One line each; the names in it are the user's files, whatever characters they hold.
    const QString text = ProgressTexts::printable(message);
    if (terminal && !barText.isEmpty()) {
        write(stream, QStringLiteral("\r\x1b[K") + text + QLatin1Char('\n') + barText);
        return;
    }
    write(stream, text + QLatin1Char('\n'));
}

void ProgressDisplay::print(std::FILE *other, const QString &text)
{
    const bool barShown = terminal && !barText.isEmpty();
    if (barShown)
        write(stream, QStringLiteral("\r\x1b[K"));
    write(other, text);
    if (barShown)
        write(stream, barText);
}

void ProgressDisplay::clear()
{
    if (terminal && !barText.isEmpty())
        write(stream, QStringLiteral("\r\x1b[K"));
    barText.clear();
}

int ProgressDisplay::width() const
{
    struct winsize size = {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void ProgressDisplay::write(std::FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}
