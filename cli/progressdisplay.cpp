#include "cli/progressdisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

ProgressDisplay::ProgressDisplay(std::FILE *stream, bool quiet)
    : stream(stream)
    , quiet(quiet)
    , terminal(::isatty(::fileno(stream)) == 1)
{
}

void ProgressDisplay::show(const RunProgress &progress, bool tick)
{
    if (quiet)
        return;
    if (!terminal) {
        // A log gets a line per step, not one per tick of the clock.
        if (!tick)
            write(ProgressTexts::line(progress) + QLatin1Char('\n'));
        return;
    }
    barText = ProgressTexts::bar(progress, width() - 1);
    write(QLatin1Char('\r') + barText + QStringLiteral("\x1b[K"));
}

void ProgressDisplay::message(const QString &text)
{
    if (terminal && !barText.isEmpty()) {
        write(QStringLiteral("\r\x1b[K") + text + QLatin1Char('\n') + barText);
        return;
    }
    write(text + QLatin1Char('\n'));
}

void ProgressDisplay::clear()
{
    if (terminal && !barText.isEmpty())
        write(QStringLiteral("\r\x1b[K"));
    barText.clear();
}

int ProgressDisplay::width() const
{
    struct winsize size = {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void ProgressDisplay::write(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
