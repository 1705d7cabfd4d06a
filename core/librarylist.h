#pragma once

#include <QString>
#include <QStringList>

// One library list's entries: full paths, each shown by its file name. An entry is found by the
// name it shows, the first path of that name winning, as the list has always matched them.
class LibraryList
{
public:
    // The plain files of folder ordered by lower-cased name; with a suffix, only those that end
    // in "." + suffix (anything else in the folder belongs to the user and is not listed).
    static LibraryList fromFolder(const QString &folder, const QString &suffix = QString());

    const QStringList &paths() const { return entries; }
    bool contains(const QString &path) const { return entries.contains(path); }
    // The path behind a shown name; empty when none has it.
    QString pathNamed(const QString &name) const;

    void append(const QString &path) { entries.append(path); }
    void remove(const QString &path) { entries.removeAll(path); }
    // The entry keeps its place under its new path.
    void rename(const QString &path, const QString &newPath);

private:
    QStringList entries;
};
