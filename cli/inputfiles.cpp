#include "cli/inputfiles.h"

#include "audio/mediafiles.h"
#include "core/filenames.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QTextCodec>

#include <dirent.h>

namespace InputFileRules {

bool isMediaName(const QString &fileName)
{
    return MediaFiles::hasMediaSuffix(fileName);
}

namespace {

// Names in one folder that are not valid UTF-8, which Qt's listing leaves out unseen: the media
// ones, as paths with the bad bytes shown replaced.
QStringList undecodableNames(const QString &folder)
{
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        QTextCodec::ConverterState state;
        const QString name = utf8->toUnicode(raw.constData(), raw.size(), &state);
        if (state.invalidChars > 0 && !raw.startsWith('.') && isMediaName(name))
            names << folder + QLatin1Char('/') + name;
    }
    ::closedir(dir);
    return names;
}

QStringList folderFiles(const QString &folder, bool recursive, QStringList *undecodable)
{
    QStringList found;
    *undecodable << undecodableNames(folder);
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable,
        recursive ? QDirIterator::Subdirectories | QDirIterator::FollowSymlinks
                  : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isDir()) {
            if (recursive)
                *undecodable << undecodableNames(path);
        } else if (isMediaName(it.fileName())) {
            found << path;
        }
    }
    // The iterator's order is the file system's; a run should not depend on it.
    found.sort();
    undecodable->sort();
    return found;
}

} // namespace

InputFiles collect(const QStringList &arguments, bool recursive)
{
    InputFiles result;
    QSet<QString> taken; // canonical paths: a file named twice, or by a link, runs once
    const auto take = [&](const QString &path, const QString &argument) {
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        if (taken.contains(canonical)) {
            result.duplicates << argument;
            return;
        }
        taken.insert(canonical);
        result.files << FileNames::withSlashes(info.absoluteFilePath());
    };

    for (const QString &argument : arguments) {
        const QFileInfo info(argument);
        if (!info.exists()) {
            result.problems << QStringLiteral("'%1': no such file or folder").arg(argument);
        } else if (info.isDir()) {
            if (!info.isReadable() || !info.isExecutable()) {
                result.problems << QStringLiteral("'%1': folder cannot be read").arg(argument);
                continue;
            }
            const QStringList files
                = folderFiles(info.absoluteFilePath(), recursive, &result.undecodable);
            for (const QString &file : files)
                take(file, file);
        } else if (!info.isFile()) {
            result.problems << QStringLiteral("'%1': not a file or folder").arg(argument);
        } else if (!info.isReadable()) {
            result.problems << QStringLiteral("'%1': file cannot be read").arg(argument);
        } else {
            take(argument, argument);
        }
    }
    return result;
}

} // namespace InputFileRules
