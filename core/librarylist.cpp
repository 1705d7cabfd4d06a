#include "core/librarylist.h"

#include "core/filenames.h"

#include <QDir>
#include <QFileInfo>

LibraryList LibraryList::fromFolder(const QString &folder, const QString &suffix)
{
    LibraryList list;
    const QFileInfoList found = QDir(folder).entryInfoList(
        QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : found) {
        if (suffix.isEmpty() || FileNames::suffix(entry.filePath()) == suffix)
            list.entries.append(entry.filePath());
    }
    return list;
}

QString LibraryList::pathNamed(const QString &name) const
{
    return FileNames::firstPathNamed(entries, name);
}

void LibraryList::rename(const QString &path, const QString &newPath)
{
    const int index = entries.indexOf(path);
    if (index >= 0)
        entries[index] = newPath;
}
