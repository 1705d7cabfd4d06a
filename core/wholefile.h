#pragma once

#include <QByteArray>
#include <QString>

class QSaveFile;

// Files that replace an earlier version only when complete: written beside the old one, flushed
// and synced, then renamed over it. Qt 5's QSaveFile::commit() alone takes a short write or a
// failed flush (a full disk) for success and renames the cut-off file over the old one.
namespace WholeFile {

// Writes bytes to path; false, with the old file untouched, when any of them did not reach the
// disk.
bool write(const QString &path, const QByteArray &bytes);

// Commits an open save file whose every write succeeded: flushed and synced first; otherwise
// cancels it.
bool commit(QSaveFile &file);

} // namespace WholeFile
