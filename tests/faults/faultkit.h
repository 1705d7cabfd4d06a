#pragma once

// Shared pieces of the fault suite: a library folder of its own, short spoken clips, a record of
// the user's files to prove none was lost, and the checks every case ends with.
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextEdit>
#include <QtTest>

#include "ui/appglobals.h"
#include "common/speechservice.h"
#include "common/testfiles.h"

namespace FaultKit {

using TestFiles::readAll;

inline QString readTranscript(const QString &path)
{
    return QTextCodec::codecForLocale()->toUnicode(readAll(path));
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Runs ffmpeg; the last argument is the output.
inline bool ffmpeg(QStringList args)
{
    const QString output = args.takeLast();
    return TestFiles::make(output, args);
}

// A short clip of English speech, encoded by the file's suffix.
inline bool makeClip(const QString &path, const QString &sentence)
{
    const QString text = path + QStringLiteral(".txt");
    if (!writeFile(text, sentence.toUtf8()))
        return false;
    const QString wav = path + QStringLiteral(".speech.wav");
    const bool ok = makeSpeechWav(text, wav) && ffmpeg({QStringLiteral("-i"), wav, path});
    QFile::remove(text);
    QFile::remove(wav);
    return ok;
}

// Every file below the given folders, with its bytes.
class FileRecord
{
public:
    void take(const QStringList &folders)
    {
        files.clear();
        for (const QString &folder : folders) {
            QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                files.insert(path, readAll(path));
            }
        }
    }
    void add(const QString &path) { files.insert(path, readAll(path)); }
    // Paths that are gone or changed.
    QStringList lost() const
    {
        QStringList result;
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            if (!QFile::exists(it.key()) || readAll(it.key()) != it.value())
                result << it.key();
        }
        return result;
    }

private:
    QMap<QString, QByteArray> files;
};

} // namespace FaultKit
