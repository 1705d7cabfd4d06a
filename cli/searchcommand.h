#pragma once

#include <QString>

#include <cstdio>

// tovarin-transcribe --search QUERY [FOLDER]: the transcripts' matching lines, as grep prints
// them. The window's library is searched through its index (brought up to date first); any
// other folder through an index of its own made in memory for the run.
namespace SearchCommand {

// "file:time: line" with the time as H:MM:SS where the transcript has times, else empty
// ("file:: line").
QString hitLine(const QString &file, qint64 startMs, const QString &line);

// 0 when a line matched, 1 when none did, 2 when the folder cannot be searched.
int run(const QString &query, const QString &folder, std::FILE *out, std::FILE *err);

} // namespace SearchCommand
