#include "audio/mediafiles.h"

#include "core/filenames.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

namespace MediaFiles {

namespace {

const QStringList &dialogAudio()
{
    static const QStringList list = { QStringLiteral("pcm"), QStringLiteral("wav"),
        QStringLiteral("amr"), QStringLiteral("wma"), QStringLiteral("mp3"), QStringLiteral("m4a"),
        QStringLiteral("aac") };
    return list;
}

const QStringList &dialogVideo()
{
    static const QStringList list = { QStringLiteral("mp4"), QStringLiteral("3gp") };
    return list;
}

QString patterns(const QStringList &suffixes)
{
    QStringList globs;
    for (const QString &suffix : suffixes)
        globs.append(QStringLiteral("*.") + suffix);
    return globs.join(QLatin1Char(';'));
}

} // namespace

const QStringList &suffixes()
{
    static const QStringList list = dialogAudio() + dialogVideo()
        + QStringList { QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"),
              QStringLiteral("opus"), QStringLiteral("mka"), QStringLiteral("aiff"),
              QStringLiteral("aif"), QStringLiteral("au"), QStringLiteral("caf"),
              QStringLiteral("m4b"), QStringLiteral("webm"), QStringLiteral("mkv"),
              QStringLiteral("avi"), QStringLiteral("mov"), QStringLiteral("wmv"),
              QStringLiteral("m4v"), QStringLiteral("mpg"), QStringLiteral("mpeg"),
              QStringLiteral("flv"), QStringLiteral("ts"), QStringLiteral("3g2") };
    return list;
}

bool hasMediaSuffix(const QString &fileName)
{
    return suffixes().contains(FileNames::suffix(FileNames::fileName(fileName)).toLower());
}

QString openDialogFilter()
{
    return QStringLiteral("Audio Files(%1);;Video Files(%2);;All Files(*.*)")
        .arg(patterns(dialogAudio()), patterns(dialogVideo()));
}

bool isMediaName(const QString &fileName, const QString &mimeName)
{
    if (hasMediaSuffix(fileName))
        return true;
    return mimeName.startsWith(QLatin1String("audio/"))
        || mimeName.startsWith(QLatin1String("video/"));
}

QString localPath(const QString &argument, const QString &workingDir)
{
    if (argument.isEmpty())
        return QString();
    if (argument.startsWith(QLatin1String("file:"))) {
        const QUrl url(argument);
        return url.isLocalFile() ? FileNames::withSlashes(QDir::cleanPath(url.toLocalFile()))
                                 : QString();
    }
    // Anything else with a scheme ("http://...") is not a file here.
    if (argument.contains(QLatin1String("://")))
        return QString();
    return FileNames::withSlashes(QDir::cleanPath(QDir(workingDir).absoluteFilePath(argument)));
}

QStringList existingMediaFiles(const QStringList &paths)
{
    const QMimeDatabase mimes;
    QStringList files;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (path.isEmpty() || files.contains(path) || !info.isFile() || !info.isReadable())
            continue;
        if (isMediaName(info.fileName(), mimes.mimeTypeForFile(info).name()))
            files.append(path);
    }
    return files;
}

} // namespace MediaFiles
