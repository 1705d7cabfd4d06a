#pragma once

#include <QString>

// What the library panes do to files: delete, rename and save as. Each returns what happened;
// the window turns a failure into its notice.
namespace LibraryFiles {

// The notice for a typed name that cannot be a file name of the library folder (a separator,
// or a control character such as a pasted NUL, which would cut the name short); empty when the
// name will do.
QString nameProblem(const QString &typed);

struct RenameResult
{
    bool ok = false;
    QString newPath;
    QString message; // the notice when not ok
};

// Renames path to typed + suffix in the same folder. Never replaces an existing file.
RenameResult rename(const QString &path, const QString &typed, const QString &suffix);

// Copies source to target. The target is replaced only by a complete copy, and nothing is
// touched when the source is gone or both name one file. False when no copy was made.
bool saveAs(const QString &source, const QString &target);

} // namespace LibraryFiles
