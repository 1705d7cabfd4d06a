#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QSaveFile;

// Files that replace an earlier version only when complete: written beside the old one, flushed
// and synced, then renamed over it. Qt 5's QSaveFile::commit() alone takes a short write or a
// failed flush (a full disk) for success and renames the cut-off file over the old one.
namespace WholeFile {

enum class Outcome { Written, IsLink, Failed };

// Writes bytes to path, never through a link: in a folder another user can write, a link made
// at the name (or at the temporary's) must not send the bytes to a file of the user's. The
// folder is opened once and everything is done relative to it: the temporary is made new
// (never opened through a link), and the rename replaces whatever is at the name by then
// instead of following it. A link already at the name is refused (IsLink). Failed, with the
// old file untouched, when any byte did not reach the disk. beforeRename runs between the last
// check and the rename (tests put a link there).
Outcome replace(
    const QString &path, const QByteArray &bytes, const std::function<void()> &beforeRename = {});

// replace() that only tells whether the file was written.
bool write(const QString &path, const QByteArray &bytes);

// Commits an open save file whose every write succeeded: flushed and synced first; otherwise
// cancels it.
bool commit(QSaveFile &file);

} // namespace WholeFile
