#pragma once

#include <QList>
#include <QString>

// What the progress display shows of a run: the files so far and the one that moved last.
struct RunProgress
{
    int fileCount = 0;
    int filesEnded = 0; // done, skipped or failed
    double runningFraction = 0; // the running files' shares of their segments, summed

    int fileNumber = 0; // 1-based number of the file that moved last
    QString fileName;
    int segment = 0; // 1-based number of the segment being recognised; 0 while preparing
    int segmentCount = 0;

    qint64 elapsedMs = 0;
};

struct RunSummary
{
    struct Failure
    {
        QString file;
        QString message;
    };

    int done = 0;
    int skipped = 0;
    QList<Failure> failures;
    // Files of the folders given whose names are not valid UTF-8, not transcribed.
    int undecodableNames = 0;
    // The output folder when it is a symbolic link, and where it leads.
    QString outputLink;
    QString outputLinkTarget;
};

namespace ProgressTexts {

// Text of a file name or a message as a terminal may show it: control characters (C0, DEL, C1)
// as "\xNN", so that a name cannot move the cursor or recolour the terminal, and a path stays
// on its one line.
QString printable(const QString &text);

// Share of the whole run done, 0 to 1: ended files count whole, running ones by their segments.
double fractionDone(const RunProgress &progress);

// Time left, extrapolated from the time so far; -1 while nothing is done to extrapolate from.
qint64 remainingMs(qint64 elapsedMs, double fractionDone);

// One line for a log: "[2/5] talk.mp3: segment 3 of 7, 00:01:12 elapsed, about 00:03:40 left".
QString line(const RunProgress &progress);

// The line a terminal redraws: a bar and the same figures, cut to width characters.
QString bar(const RunProgress &progress, int width);

// "done 3, skipped 1, failed 1" and a line per failure with its file and message.
QString summary(const RunSummary &summary);

} // namespace ProgressTexts
