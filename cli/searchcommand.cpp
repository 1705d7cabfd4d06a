#include "cli/searchcommand.h"

#include "core/programlayout.h"
#include "core/transcriptindex.h"

#include <QDir>
#include <QFileInfo>

#include <climits>

namespace SearchCommand {

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

QString cleanFolder(const QString &folder)
{
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

} // namespace

QString hitLine(const QString &file, qint64 startMs, const QString &line)
{
    QString time;
    if (startMs >= 0) {
        const qint64 s = startMs / 1000;
        time = QStringLiteral("%1:%2:%3")
                   .arg(s / 3600)
                   .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2: %3\n").arg(file, time, line);
}

int run(const QString &query, const QString &given, std::FILE *out, std::FILE *err)
{
    // The installed window's index, or a portable window's beside the folder it was made for.
    QString indexFile = ProgramLayout::searchIndexFile();
    QString indexed = TranscriptIndex::folderOf(indexFile);
    if (!given.isEmpty() && cleanFolder(given) != indexed) {
        const QString beside
            = ProgramLayout::searchIndexFile(QFileInfo(cleanFolder(given)).absolutePath());
        if (TranscriptIndex::folderOf(beside) == cleanFolder(given)) {
            indexFile = beside;
            indexed = cleanFolder(given);
        }
    }
    QString folder = given;
    if (folder.isEmpty())
        folder = !indexed.isEmpty()
            ? indexed
            : ProgramLayout::transcriptFolder(ProgramLayout::userDataFolder());
    if (!QFileInfo(folder).isDir()) {
        print(err, QStringLiteral("tovarin-transcribe: '%1' is not a folder\n").arg(folder));
        return 2;
    }
    // The library's own index where it has one. Other folders are read as grep reads them:
    // nothing of them is written, and an index made for one search would cost more than it saves.
    SearchResults results;
    TranscriptIndex index;
    const bool library = !indexed.isEmpty() && cleanFolder(folder) == indexed;
    if (library && index.open(indexFile, folder)) {
        bool ok = index.sync();
        if (ok)
            results = index.search(query, INT_MAX, &ok);
        if (!ok) {
            print(err, QStringLiteral("tovarin-transcribe: the search index failed\n"));
            return 2;
        }
    } else {
        results = TranscriptIndex::scan(folder, query);
    }
    // Named as the folder was given, as grep names what it reads.
    const QString shown = given.isEmpty() ? folder : given;
    for (const SearchHit &hit : results.hits) {
        const QString file = QDir(shown).filePath(QFileInfo(hit.path).fileName());
        print(out, hitLine(file, hit.startMs, hit.text));
    }
    std::fflush(out);
    return results.hits.isEmpty() ? 1 : 0;
}

} // namespace SearchCommand
