#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "audio/wavinfo.h"

// Test media made by the real ffmpeg, and views of files that the tests compare.
namespace TestFiles {

inline QString str(const char *text)
{
    return QString::fromUtf8(text);
}

// "a|b c|d" as the argument list {"a", "b c", "d"}.
inline QStringList words(const char *text)
{
    return str(text).split(QLatin1Char('|'));
}

// Runs ffmpeg with the given input options and writes path; true on success.
inline bool make(const QString &path, const QStringList &options)
{
    QProcess ffmpeg;
    ffmpeg.start(str("ffmpeg"), words("-nostdin|-loglevel|error|-y") + options << path);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit
        && ffmpeg.exitCode() == 0;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The samples of a WAV file, or the whole of a raw ".pcm" file.
inline QByteArray samples(const QString &path)
{
    const QByteArray bytes = readAll(path);
    if (path.endsWith(str(".pcm"), Qt::CaseInsensitive))
        return bytes;
    const WavInfo info = WavInfo::fromBytes(bytes);
    return info.valid ? bytes.mid(int(info.dataOffset), int(info.dataBytes)) : QByteArray();
}

// Every file below folder by relative path, with a digest of its content.
inline QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path),
            QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha1));
    }
    return files;
}

} // namespace TestFiles
