#pragma once

#include "core/searchtext.h"

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <functional>

struct sqlite3;

// One line of a transcript that matches a query.
struct SearchHit
{
    QString path; // the transcript
    int line = 0; // from 0, counted at line breaks as the text pane counts its blocks
    qint64 startMs = -1; // where it was said; -1 without times
    QString text; // the line as the transcript holds it
    QVector<QPair<int, int>> spans; // what matched, in text's characters
};

struct SearchResults
{
    QVector<SearchHit> hits; // best first: the transcripts with more matches, then the newer
    int total = 0; // matching lines, before the limit
};

// The search index of one library folder: an SQLite file (or memory) with one row per non-empty
// transcript line and one FTS5 document per transcript (each Chinese character a word of its
// own, with its pair with the next in its place, each line closed by a word of its own), which
// finds and ranks the transcripts and tells
// their matching lines; SearchText's rules match what the table cannot tell exactly. It holds only
// what the transcripts hold: a line leaves the index with its transcript, freed pages are
// overwritten and the write-ahead log emptied after each change. One connection, for the thread
// that opened it, and for an index in a file a second one that reads, so that a query ranks
// half the transcripts on each core.
class TranscriptIndex
{
public:
    TranscriptIndex();
    ~TranscriptIndex();
    TranscriptIndex(const TranscriptIndex &) = delete;
    TranscriptIndex &operator=(const TranscriptIndex &) = delete;

    // Opens the index at file (":memory:" for one in memory) for the transcripts of folder.
    // A file that is missing, is not an SQLite database, fails its check, or is an index of
    // another kind, version, folder or text rule is made anew, empty. False only when no index
    // could be made there. rebuilt() tells whether it was made anew.
    bool open(const QString &file, const QString &folder);
    // Opens an existing index to read only, without changing anything; false when it is not a
    // usable index of folder.
    bool openToRead(const QString &file, const QString &folder);
    void close();
    bool isOpen() const;
    bool rebuilt() const { return m_rebuilt; }
    QString folder() const { return m_folder; }
    // The index file's folder recorded in an index at file; empty when it has none.
    static QString folderOf(const QString &file);

    // Brings the index in line with the folder's transcripts: those added or changed since
    // (by size and modification time, of the transcript and of its times) are read again,
    // those gone are removed. progress(done, count) after each batch. False on a database fault.
    bool sync(const std::function<void(int, int)> &progress = {});
    // The program wrote or replaced the transcript at path (a missing file is removed).
    bool update(const QString &path);
    bool remove(const QString &path);
    bool rename(const QString &oldPath, const QString &newPath);

    // ok is false on a database fault (then the index should be made anew).
    SearchResults search(const QString &query, int limit = 500, bool *ok = nullptr);
    // The transcripts of a folder read as they are, without an index, for a search that will not
    // come again: every match, best first, as search() finds and ranks them. Reading 200 MB of
    // transcripts once takes a fraction of the time and memory of indexing them.
    static SearchResults scan(const QString &folder, const QString &query);

    int transcriptCount();

private:
    struct Writer;
    // What a query matched by the text rules, by transcript: how many occurrences, which lines.
    struct Tally
    {
        QHash<qint64, int> count;
        QHash<qint64, QVector<qint64>> lines;
        int total = 0; // matching lines
    };
    // A transcript's lines to show, as ids in their order.
    struct Shown
    {
        QString path;
        QVector<qint64> lines;
    };
    // The transcripts best first, with their matching lines, until limit lines are listed.
    bool rankExactly(const QString &expression, int limit, QVector<Shown> *shown, int *total);
    bool tallyByRules(const QString &expression, const SearchText::Query &parsed, Tally *tally);
    bool rankTranscripts(const Tally &tally, int limit, QVector<Shown> *shown);
    bool fetchHits(const SearchText::Query &parsed, const QVector<Shown> &shown, int limit,
        SearchResults *results);
    void registerFunctions();
    void openSecondReader();
    class BulkWrite;
    bool makeSchema();
    bool checkUsable();
    bool readFile(const QString &path, qint64 size, qint64 mtime, qint64 timesMtime);
    bool removeRows(qint64 transcriptId);
    bool exec(const QString &sql);
    void mergeAsUsual();
    void settle();
    QString ruleSignature() const;

    QSqlDatabase m_db;
    QString m_connection;
    QString m_file;
    QString m_folder;
    bool m_rebuilt = false;
    bool m_countsInstances = false; // the connection has the matched() function
    bool m_pairs = false; // and the tokenizer that adds character pairs
    sqlite3 *m_handle = nullptr; // the driver's, for ranking by SQLite's own interface
    sqlite3 *m_second = nullptr; // ranks the upper half of the transcripts; null for none
    bool m_secondTried = false;
    bool m_removed = false; // rows were removed since the index was last compacted
};
