#pragma once

#include <QString>
#include <QStringList>

// Which files from outside the window (dropped, given on the command line, handed over by a
// second start) may join the task list.
namespace MediaFiles {

// The suffixes the program takes for audio and video files, lower case: the upload dialog's
// audio and video types first, then what recorders and phones commonly write and ffmpeg reads.
// The window, its drop target and the command line's folders all go by this one list.
const QStringList &suffixes();
// True for a file name with one of those suffixes (case ignored).
bool hasMediaSuffix(const QString &fileName);
// The upload dialog's filter: its audio types, its video types, all files.
QString openDialogFilter();

// True for an audio or video file: a suffix the program knows (case ignored) or a MIME type
// "audio/..." or "video/...".
bool isMediaName(const QString &fileName, const QString &mimeName);

// A command-line argument or dropped URL text as an absolute local path with "/" separators:
// "file:" URLs become paths, relative paths are taken against workingDir. Empty for any other
// URL and for an empty argument.
QString localPath(const QString &argument, const QString &workingDir);

// The existing regular audio and video files among absolute paths (links followed to check,
// kept as given), in their order, each once. Folders, vanished files and anything else are left
// out.
QStringList existingMediaFiles(const QStringList &paths);

} // namespace MediaFiles
