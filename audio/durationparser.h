#pragma once

#include <QString>

// Reads the length of an input from ffmpeg's description of it ("Duration: 00:01:23.45, ...").
namespace DurationParser {

// Whole seconds of the first line that begins with "Duration:" (after blanks): hundredths are
// dropped, a field that is not a number counts 0 ("Duration: N/A" gives 0). False when no line
// does, so a file name holding the word is never read as the duration.
bool parseSeconds(const QString &text, int *seconds);
// The same length to the millisecond, its fraction kept (ffmpeg prints hundredths).
bool parseMilliseconds(const QString &text, qint64 *milliseconds);

// True once that line has ended. ffmpeg writes the label and the time
// separately, so output read in between must not be taken for the whole line.
bool hasCompleteLine(const QString &text);

} // namespace DurationParser
