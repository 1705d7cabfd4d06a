#pragma once

#include <QString>
#include <QStringList>

// File-name rules shared by the library, the task list and the job. Paths use "/" only.
namespace FileNames {

// The part of a path after its last "/" (the whole text when it has none).
QString fileName(const QString &path);
// The path up to its last "/", without that "/" (empty when it has none).
QString folderOf(const QString &path);
// The path without the suffix of its file name: "D:/rec/talk.2024.mp3" gives "D:/rec/talk.2024";
// a file name without "." leaves the path unchanged.
QString withoutSuffix(const QString &path);
// The text after the last "." of the file name, empty when it has none (case kept).
QString suffix(const QString &path);
// The part of a file name before its first "." (the whole name when it has none).
QString beforeFirstDot(const QString &name);
// Transcript name of a task file: file name cut before its last ".", plus ".txt".
QString transcriptName(const QString &taskPath);
// Every "\" made "/".
QString withSlashes(const QString &path);
// The first path of the list whose file name equals name exactly; empty when none does.
QString firstPathNamed(const QStringList &paths, const QString &name);

} // namespace FileNames
