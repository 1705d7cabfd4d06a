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
    // A message of its own line; the bar, if any, is drawn again below it. A step's message (a
    // file done) is left out when quiet, unlike a notice (a file skipped).
    void message(const QString &text, bool step = false);
    // Text for another stream (standard output) that may share the terminal: the bar steps
    // aside for it.
    void print(std::FILE *other, const QString &text);
    // Takes the bar off the screen before the summary.
    void clear();

private:
    int width() const;
    static void write(std::FILE *to, const QString &text);

    std::FILE *stream;
    bool quiet;
    bool terminal;
    QString barText;
    QString lastStep; // file and segment of the last line written
};
