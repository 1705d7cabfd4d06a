#pragma once

#include "cli/progresstexts.h"

#include <QString>

#include <cstdio>

// Progress and messages on standard error: a bar redrawn in place on a terminal, plain lines
// otherwise (a log file, a pipe), nothing of the progress when quiet.
class ProgressDisplay
{
public:
    ProgressDisplay(std::FILE *stream, bool quiet);

    // A step of the run (a file started, a segment sent), or a tick of the clock, which only a
    // terminal shows.
    void show(const RunProgress &progress, bool tick = false);
    // A message of its own line; the bar, if any, is drawn again below it.
    void message(const QString &text);
    // Takes the bar off the screen before the summary.
    void clear();

private:
    int width() const;
    void write(const QString &text);

    std::FILE *stream;
    bool quiet;
    bool terminal;
    QString barText;
};
