#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include "common/speechservice.h"
#include "common/testfiles.h"

// One spoken sentence at the start of each segment of the given length, the rest silence: a job
// cut at that length sends one request a sentence, and no cut falls inside a word. The last
// segment is padded to lastSeconds (the whole length when 0).
inline bool makePaddedSpeech(const QString &path, const QStringList &sentences,
    int segmentSeconds, int lastSeconds = 0)
{
    const QString work = path + QStringLiteral(".parts");
    if (!QDir().mkpath(work))
        return false;
    QStringList inputs;
    QString filter;
    bool ok = true;
    for (int k = 0; ok && k < sentences.size(); ++k) {
        const QString text = work + QStringLiteral("/%1.txt").arg(k);
        const QString wav = work + QStringLiteral("/%1.wav").arg(k);
        QFile file(text);
        ok = file.open(QIODevice::WriteOnly) && file.write(sentences[k].toUtf8()) > 0;
        file.close();
        ok = ok && makeSpeechWav(text, wav);
        inputs << QStringLiteral("-i") << wav;
        const bool last = k + 1 == sentences.size();
        filter += QStringLiteral("[%1]apad=whole_dur=%2[a%1];")
                      .arg(k)
                      .arg(last && lastSeconds > 0 ? lastSeconds : segmentSeconds);
    }
    for (int k = 0; k < sentences.size(); ++k)
        filter += QStringLiteral("[a%1]").arg(k);
    filter += QStringLiteral("concat=n=%1:v=0:a=1").arg(sentences.size());
    ok = ok
        && TestFiles::make(path, inputs + QStringList { QStringLiteral("-filter_complex"), filter });
    QDir(work).removeRecursively();
    return ok;
}
