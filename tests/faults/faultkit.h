#pragma once

// Shared pieces of the fault suite: a library folder of its own, short spoken clips, a record of
// the user's files to prove none was lost, and the checks every case ends with.
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
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

// A short clip of English speech, encoded by the file's suffix. Each sentence and suffix is
// spoken once per program; later cases get a copy.
inline bool makeClip(const QString &path, const QString &sentence)
{
    static QTemporaryDir made;
    static QMap<QString, QString> clips;
    const QString suffix = QFileInfo(path).suffix();
    const QString key = suffix + QLatin1Char('|') + sentence;
    if (!clips.contains(key)) {
        const QString clip = made.filePath(QStringLiteral("%1.%2").arg(clips.size()).arg(suffix));
        const QString text = clip + QStringLiteral(".txt");
        const QString wav = clip + QStringLiteral(".speech.wav");
        if (!writeFile(text, sentence.toUtf8()) || !makeSpeechWav(text, wav)
            || !ffmpeg({QStringLiteral("-i"), wav, clip}))
            return false;
        clips.insert(key, clip);
    }
    QFile::remove(path);
    return QFile::copy(clips.value(key), path);
}

// Every file below the given folders, with its bytes; the search index is left out, since it
// is the program's own copy of the transcripts and changes whenever they do.
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
                if (!it.fileName().startsWith(QLatin1String("transcript-index.sqlite")))
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
