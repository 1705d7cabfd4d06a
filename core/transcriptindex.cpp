#include "core/transcriptindex.h"

#include "core/characterpairs.h"
#include "core/logging.h"
#include "core/transcriptdocument.h"
#include "core/transcripttimes.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextCodec>
#include <QVarLengthArray>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

const QString kKind = QStringLiteral("tovarin transcript index");
const QString kVersion = QStringLiteral("7");
// Files read again in one transaction: small enough that a change of the program's own is
// not kept waiting long behind a first build.
const int kBatch = 200;
// The words FTS5 holds in memory before it writes them out, in bytes: its own default, and
// about a batch's for many batches.
const int kWords = 1 << 20;
const int kBulkWords = 32 << 20;
// The segments a level of the table may have before FTS5 merges them whatever it is told: a
// first build of 10,000 transcripts makes 50, a segment a batch.
const int kBulkSegments = 200;
// A query reads the pages of its words' place lists straight from the file's map rather than
// copied through the page cache a page at a time, which cost a tenth of its processor time.
// Beyond this size the file is read as before; writes go through the file as before.
const char kMapSize[] = "PRAGMA mmap_size = 1073741824";

QString newConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("transcript-index-%1").arg(counter.fetchAndAddRelaxed(1));
}

void removeFiles(const QString &file)
{
    for (const char *suffix : { "", "-wal", "-shm", "-journal" })
        QFile::remove(file + QLatin1String(suffix));
}

qint64 mtimeOf(const QFileInfo &info)
{
    return info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0;
}

struct FileStamp
{
    qint64 size = -1;
    qint64 mtime = 0;
    qint64 timesMtime = 0;
};

FileStamp stampOf(const QString &path)
{
    const QFileInfo info(path);
    FileStamp s;
    if (!info.isFile())
        return s;
    s.size = info.size();
    s.mtime = mtimeOf(info);
    s.timesMtime = mtimeOf(QFileInfo(TranscriptTimesRules::sidecarPath(path)));
    return s;
}

// The library's transcripts as the window lists them.
QStringList transcriptsIn(const QString &folder)
{
    QStringList paths;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        { QStringLiteral("*.txt") }, QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries)
        paths.append(entry.filePath());
    return paths;
}

// Paths as the index keeps them, however the caller spelled them.
QString cleanPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// What matched() found in the query's current row, kept for the query (FTS5 frees it with the
// query): the row is asked for several figures, each of them from the same lines.
struct RowLines
{
    sqlite3_int64 rowid = 0;
    bool known = false;
    QVector<TranscriptDocument::Instance> instances;
    QVector<int> ends;
    QVector<TranscriptDocument::LineMatch> lines;
};

// The lines of a transcript's document that a query matched, from the instances of its phrases;
// its last phrase is the line end.
bool readLines(const Fts5ExtensionApi *api, Fts5Context *fts, RowLines *row)
{
    const int phrases = api->xPhraseCount(fts) - 1;
    if (phrases < 1 || phrases > 32)
        return false;
    row->instances.clear();
    row->ends.clear();
    // Each phrase's places read as they are stored, without FTS5's list of all instances.
    for (int phrase = 0; phrase <= phrases; ++phrase) {
        Fts5PhraseIter at;
        int column = 0;
        int offset = 0;
        if (api->xPhraseFirst(fts, phrase, &at, &column, &offset) != SQLITE_OK)
            return false;
        for (; column >= 0; api->xPhraseNext(fts, &at, &column, &offset)) {
            if (phrase == phrases)
                row->ends.append(offset);
            else
                row->instances.append({ phrase, offset });
        }
    }
    TranscriptDocument::matchLines(row->instances, row->ends, phrases, &row->lines);
    return true;
}

const QVector<TranscriptDocument::LineMatch> *matchedLines(
    const Fts5ExtensionApi *api, Fts5Context *fts)
{
    auto *row = static_cast<RowLines *>(api->xGetAuxdata(fts, 0));
    if (!row) {
        row = new RowLines;
        // On failure FTS5 has deleted it already.
        if (api->xSetAuxdata(fts, row, [](void *p) { delete static_cast<RowLines *>(p); })
            != SQLITE_OK)
            return nullptr;
    }
    const sqlite3_int64 rowid = api->xRowid(fts);
    if (!row->known || row->rowid != rowid) {
        row->known = readLines(api, fts, row);
        row->rowid = rowid;
    }
    return row->known ? &row->lines : nullptr;
}

// matched(table, what): of the lines in which every phrase of the query but its last occurs,
// 0 how many instances of them, 1 which lines as a blob of ints of this machine (for the
// program's own reading), 2 which lines as a JSON list ("[0,4]").
void matchedFunction(const Fts5ExtensionApi *api, Fts5Context *fts, sqlite3_context *result,
    int argc, sqlite3_value **argv)
{
    const QVector<TranscriptDocument::LineMatch> *found
        = argc == 1 ? matchedLines(api, fts) : nullptr;
    if (!found) {
        sqlite3_result_error(result, "matched: no instances", -1);
        return;
    }
    const QVector<TranscriptDocument::LineMatch> &lines = *found;
    const int what = sqlite3_value_int(argv[0]);
    if (what == 1) {
        QVarLengthArray<qint32, 64> list;
        for (const TranscriptDocument::LineMatch &l : lines)
            list.append(l.line);
        sqlite3_result_blob(
            result, list.constData(), int(list.size() * sizeof(qint32)), SQLITE_TRANSIENT);
        return;
    }
    if (what == 2) {
        QByteArray list("[");
        for (const TranscriptDocument::LineMatch &l : lines) {
            if (list.size() > 1)
                list += ',';
            list += QByteArray::number(l.line);
        }
        list += ']';
        sqlite3_result_text(result, list.constData(), list.size(), SQLITE_TRANSIENT);
        return;
    }
    int sum = 0;
    for (const TranscriptDocument::LineMatch &l : lines)
        sum += l.count;
    sqlite3_result_int(result, sum);
}

// The first and last line id a transcript can have: a line's id holds its transcript's.
qint64 firstLineOf(qint64 transcript)
{
    return transcript << 32;
}

qint64 lastLineOf(qint64 transcript)
{
    return (transcript << 32) | 0xffffffffLL;
}

// FTS5's own interface on the connection, asked for as its documentation has it.
// The word table's tokenizer and the matched() function on db; false for either that is not
// there.
void addExtensions(sqlite3 *db, bool *pairs, bool *matched)
{
    fts5_api *api = db ? CharacterPairs::fts5Of(db) : nullptr;
    *pairs = CharacterPairs::registerWith(api);
    *matched = api && api->iVersion >= 2
        && api->xCreateFunction(api, "matched", nullptr, matchedFunction, nullptr) == SQLITE_OK;
}

// A transcript that a range of the word table ranked.
struct RankedRow
{
    qint64 id;
    int count;
    qint64 mtime;
    QByteArray path; // as SQLite compares it
    QByteArray lines; // matched(docs, 1)
};

struct RangeRanking
{
    bool ok = false;
    qint64 total = 0; // matching lines in the range
    std::vector<RankedRow> rows; // best first, at most the limit
};

bool rankedBefore(const RankedRow &a, const RankedRow &b)
{
    if (a.count != b.count)
        return a.count > b.count;
    if (a.mtime != b.mtime)
        return a.mtime > b.mtime;
    return a.path < b.path;
}

// A transcript as it is ranked, its path and lines kept in the range's buffer: most of them
// are never shown, and are not copied one by one.
struct Candidate
{
    qint64 id;
    int count;
    qint64 mtime;
    int path; // where in the buffer, and how long
    int pathSize;
    int lines;
    int linesSize;
};

// The transcripts with ids from..to that match expression, best first: the word table counts
// by itself, one row a transcript, and no line is read. Sorted here rather than by SQLite,
// which kept every row twice (for the total beside the rows, and for its subquery) before
// sorting them. Each transcript listed has a line at least, so no more than limit of them are
// sorted out.
RangeRanking rankRange(sqlite3 *db, const QByteArray &expression, qint64 from, qint64 to, int limit)
{
    static const char sql[]
        = "SELECT docs.rowid, matched(docs, 0), matched(docs, 1), t.mtime, t.path FROM docs "
          "CROSS JOIN transcripts AS t ON t.id = docs.rowid "
          "WHERE docs MATCH ?1 AND docs.rowid BETWEEN ?2 AND ?3";
    RangeRanking ranking;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
        return ranking;
    sqlite3_bind_text(st, 1, expression.constData(), expression.size(), SQLITE_STATIC);
    sqlite3_bind_int64(st, 2, from);
    sqlite3_bind_int64(st, 3, to);
    std::vector<Candidate> found;
    std::string buffer;
    const auto keep = [&](int column, int *at) {
        const int size = sqlite3_column_bytes(st, column);
        *at = int(buffer.size());
        buffer.append(static_cast<const char *>(sqlite3_column_blob(st, column)), size);
        return size;
    };
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(st)) == SQLITE_ROW) {
        Candidate c { sqlite3_column_int64(st, 0), sqlite3_column_int(st, 1),
            sqlite3_column_int64(st, 3), 0, 0, 0, 0 };
        if (c.count <= 0)
            continue;
        c.linesSize = keep(2, &c.lines);
        c.pathSize = keep(4, &c.path);
        ranking.total += c.linesSize / qint64(sizeof(qint32));
        found.push_back(c);
    }
    ranking.ok = step == SQLITE_DONE;
    sqlite3_finalize(st);
    const auto bytes = [&buffer](int at, int size) { return QByteArray(buffer.data() + at, size); };
    const auto before = [&buffer](const Candidate &a, const Candidate &b) {
        if (a.count != b.count)
            return a.count > b.count;
        if (a.mtime != b.mtime)
            return a.mtime > b.mtime;
        // Byte by byte, as SQLite compares text.
        return std::string_view(buffer.data() + a.path, a.pathSize)
            < std::string_view(buffer.data() + b.path, b.pathSize);
    };
    const auto best = found.begin() + std::min<qint64>(std::max(limit, 1), found.size());
    std::partial_sort(found.begin(), best, found.end(), before);
    for (auto c = found.begin(); c != best; ++c)
        ranking.rows.push_back({ c->id, c->count, c->mtime, bytes(c->path, c->pathSize),
            bytes(c->lines, c->linesSize) });
    return ranking;
}

struct HitToRead
{
    const QString *path;
    qint64 id;
};

// A read transaction held over many statements on db, unless one is open already: without it
// each statement takes and gives back the log's locks, which cost as much as reading a line.
class ReadTransaction
{
public:
    explicit ReadTransaction(sqlite3 *db)
        : m_db(sqlite3_get_autocommit(db) ? db : nullptr)
    {
        if (m_db && sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            m_db = nullptr;
    }
    ~ReadTransaction()
    {
        if (m_db)
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    }
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    sqlite3 *m_db;
};

// The lines wanted[from..to) read through db and marked, into out[from..to). A line gone since it
// was ranked (its transcript changed meanwhile) is left out, its line -1; false on a fault.
bool readHits(sqlite3 *db, const SearchText::Query &parsed, const QVector<HitToRead> &wanted,
    int from, int to, SearchHit *out)
{
    const ReadTransaction reading(db);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(
            db, "SELECT line, start_ms, text FROM lines WHERE id = ?1", -1, &st, nullptr)
        != SQLITE_OK)
        return false;
    bool ok = true;
    for (int i = from; i < to && ok; ++i) {
        sqlite3_bind_int64(st, 1, wanted[i].id);
        const int step = sqlite3_step(st);
        SearchHit &hit = out[i];
        hit.line = -1;
        ok = step == SQLITE_ROW || step == SQLITE_DONE;
        if (step == SQLITE_ROW) {
            hit.path = *wanted[i].path;
            hit.line = sqlite3_column_int(st, 0);
            hit.startMs = sqlite3_column_int64(st, 1);
            hit.text = QString(sqlite3_column_bytes(st, 2) / int(sizeof(QChar)), Qt::Uninitialized);
            std::memcpy(hit.text.data(), sqlite3_column_blob(st, 2),
                size_t(hit.text.size()) * sizeof(QChar));
            hit.spans = SearchText::matchSpans(hit.text, parsed);
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return ok;
}

// The id that parts the transcripts into two halves of about as many.
bool middleId(sqlite3 *db, qint64 *middle)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT min(id), max(id) FROM transcripts", -1, &st, nullptr)
        != SQLITE_OK)
        return false;
    const bool ok = sqlite3_step(st) == SQLITE_ROW;
    if (ok)
        *middle = sqlite3_column_int64(st, 0)
            + (sqlite3_column_int64(st, 1) - sqlite3_column_int64(st, 0)) / 2;
    sqlite3_finalize(st);
    return ok;
}

} // namespace

TranscriptIndex::TranscriptIndex() = default;

TranscriptIndex::~TranscriptIndex()
{
    close();
}

QString TranscriptIndex::ruleSignature() const
{
    // What the text rules make of a sample: an index built under other rules (OpenCC's tables
    // installed or removed since) would not find, nor remove, its own words. One made without
    // the pairs' tokenizer is made anew once it is there, and one with them when it is not.
    return kVersion + QLatin1Char(':') + SearchText::normalise(QStringLiteral("ＡＢＣ 體育 Straße"))
        + (m_pairs ? QStringLiteral(":pairs") : QString());
}

void TranscriptIndex::registerFunctions()
{
    // Without the function each line found is counted by the text rules, only slower.
    m_countsInstances = false;
    m_pairs = false;
    m_handle = nullptr;
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return;
    sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData());
    m_handle = db;
    addExtensions(db, &m_pairs, &m_countsInstances);
}

void TranscriptIndex::openSecondReader()
{
    m_secondTried = true;
    // Without it each query ranks on one core; an index in memory has no second reader.
    if (!m_countsInstances || m_file == QLatin1String(":memory:"))
        return;
    // Its own thread uses it only while this one waits for it.
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
    bool pairs = false;
    bool matched = false;
    const bool opened
        = sqlite3_open_v2(QFile::encodeName(m_file).constData(), &m_second, flags, nullptr)
            == SQLITE_OK
        && sqlite3_busy_timeout(m_second, 10000) == SQLITE_OK
        && sqlite3_exec(m_second, "PRAGMA query_only = ON", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (opened)
        addExtensions(m_second, &pairs, &matched);
    // It reads the table as this connection does, or not at all.
    if (!opened || !matched || pairs != m_pairs) {
        sqlite3_close(m_second);
        m_second = nullptr;
        return;
    }
    sqlite3_exec(m_second, kMapSize, nullptr, nullptr, nullptr);
}

bool TranscriptIndex::isOpen() const
{
    return m_db.isOpen();
}

void TranscriptIndex::close()
{
    if (m_connection.isEmpty())
        return;
    // The reader first, so that the last connection to close, which tidies the log, can write.
    sqlite3_close(m_second);
    m_second = nullptr;
    m_secondTried = false;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
    m_countsInstances = false;
    m_pairs = false;
    m_handle = nullptr;
}

bool TranscriptIndex::exec(const QString &sql)
{
    QSqlQuery q(m_db);
    return q.exec(sql);
}

QString TranscriptIndex::folderOf(const QString &file)
{
    if (!QFileInfo(file).isFile())
        return QString();
    TranscriptIndex index;
    index.m_connection = newConnectionName();
    index.m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), index.m_connection);
    index.m_db.setDatabaseName(file);
    index.m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!index.m_db.open())
        return QString();
    QSqlQuery q(index.m_db);
    if (q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'folder'")) && q.next())
        return q.value(0).toString();
    return QString();
}

bool TranscriptIndex::checkUsable()
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next()
        || q.value(0).toString() != QLatin1String("ok"))
        return false;
    if (!q.exec(QStringLiteral("SELECT key, value FROM meta")))
        return false;
    QHash<QString, QString> meta;
    while (q.next())
        meta.insert(q.value(0).toString(), q.value(1).toString());
    if (meta.value(QStringLiteral("kind")) != kKind
        || meta.value(QStringLiteral("rules")) != ruleSignature()
        || meta.value(QStringLiteral("folder")) != m_folder)
        return false;
    // The tables answer: a foreign file could have a meta table and nothing else.
    return q.exec(QStringLiteral("SELECT count(*) FROM transcripts"))
        && q.exec(QStringLiteral("SELECT rowid FROM docs WHERE docs MATCH '\"a\"' LIMIT 1"));
}

bool TranscriptIndex::makeSchema()
{
    const char *statements[] = {
        "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT)",
        "CREATE TABLE transcripts (id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, "
        "size INTEGER, mtime INTEGER, times_mtime INTEGER)",
        // A line's id is its transcript's and its place among the transcript's non-blank lines,
        // (transcript << 32) | place, as the word table's document counts its line ends; line
        // is its number in the text. text is the line as QString holds it, read back as it
        // is: decoding UTF-8 was a tenth of a query's processor time.
        "CREATE TABLE lines (id INTEGER PRIMARY KEY, line INTEGER NOT NULL, "
        "start_ms INTEGER NOT NULL, text BLOB NOT NULL, norm TEXT NOT NULL)",
        // One document a transcript, its rowid the transcript's id (TranscriptDocument):
        // ranking reads one row a transcript, not one a matching line.
        // Contentless: the text is kept once, in lines. Each Chinese character is a word of its
        // own, so a Chinese term is a phrase of its characters: a trigram table found them
        // faster but took four fifths of the time and most of the room of an index.
        // Marks belong to their words, as the text rules have it; so do letters newer than
        // SQLite's character tables. With each character's pair with the next beside it, a
        // Chinese term is the chain of its pairs, whose place lists are far shorter than those
        // of its characters; that tokenizer takes the words as the text rules parted them.
        "CREATE VIRTUAL TABLE docs USING fts5(t, tokenize = \"%1\", content = '')",
    };
    const QString words = m_pairs
        ? QLatin1String(CharacterPairs::tokenizerName)
        : QStringLiteral("unicode61 remove_diacritics 0 categories 'L* N* M* Co Cn'");
    m_db.transaction();
    for (const char *s : statements) {
        if (!exec(QString::fromLatin1(s).replace(QLatin1String("%1"), words))) {
            m_db.rollback();
            return false;
        }
    }
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO meta (key, value) VALUES (?, ?)"));
    for (const auto &kv : { qMakePair(QStringLiteral("kind"), kKind),
             qMakePair(QStringLiteral("rules"), ruleSignature()),
             qMakePair(QStringLiteral("folder"), m_folder) }) {
        q.addBindValue(kv.first);
        q.addBindValue(kv.second);
        if (!q.exec()) {
            m_db.rollback();
            return false;
        }
    }
    return m_db.commit();
}

bool TranscriptIndex::open(const QString &file, const QString &folder)
{
    close();
    m_file = file;
    m_folder = cleanPath(folder);
    m_rebuilt = false;
    const bool memory = file == QLatin1String(":memory:");
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_connection = newConnectionName();
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        m_db.setDatabaseName(file);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (m_db.open()) {
            registerFunctions();
            // Freed pages are zeroed, so a removed line cannot be read back from the file.
            exec(QStringLiteral("PRAGMA secure_delete = ON"));
            if (!memory) {
                exec(QStringLiteral("PRAGMA journal_mode = WAL"));
                exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
                exec(QLatin1String(kMapSize));
            }
            QSqlQuery q(m_db);
            const bool empty = q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))
                && q.next() && q.value(0).toInt() == 0;
            q.finish();
            if (empty) {
                if (makeSchema()) {
                    m_rebuilt = true;
                    return true;
                }
            } else if (checkUsable()) {
                // A first build that was stopped left the table merging as it does for one.
                if (q.exec(QStringLiteral("SELECT v FROM docs_config WHERE k = 'automerge'"))
                    && q.next() && q.value(0).toInt() == 0) {
                    q.finish();
                    mergeAsUsual();
                }
                return true;
            }
        }
        // Missing, damaged or foreign: made anew.
        qCWarning(lcSearch).noquote()
            << "index" << file << "cannot be used, made anew:" << m_db.lastError().text();
        close();
        if (memory)
            return false;
        removeFiles(file);
        QDir().mkpath(QFileInfo(file).absolutePath());
    }
    qCWarning(lcSearch).noquote() << "index" << file << "cannot be made";
    return false;
}

bool TranscriptIndex::openToRead(const QString &file, const QString &folder)
{
    close();
    m_file = file;
    m_folder = cleanPath(folder);
    if (!QFileInfo(file).isFile())
        return false;
    m_connection = newConnectionName();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(file);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (m_db.open())
        registerFunctions();
    if (!m_db.isOpen() || !exec(QStringLiteral("PRAGMA query_only = ON"))) {
        close();
        return false;
    }
    exec(QLatin1String(kMapSize));
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'folder'")) || !q.next()
        || q.value(0).toString() != m_folder) {
        q.finish();
        close();
        return false;
    }
    return true;
}

bool TranscriptIndex::removeRows(qint64 transcriptId)
{
    QSqlQuery lines(m_db);
    lines.setForwardOnly(true);
    lines.prepare(QStringLiteral("SELECT norm FROM lines WHERE id BETWEEN ? AND ? ORDER BY id"));
    lines.addBindValue(firstLineOf(transcriptId));
    lines.addBindValue(lastLineOf(transcriptId));
    if (!lines.exec())
        return false;
    // A contentless table forgets a row only when told the words it was given.
    QStringList words;
    while (lines.next())
        words.append(SearchText::wordTableText(lines.value(0).toString()));
    if (lines.lastError().type() != QSqlError::NoError)
        return false;
    QSqlQuery del(m_db);
    if (!words.isEmpty()) {
        del.prepare(QStringLiteral("INSERT INTO docs (docs, rowid, t) VALUES ('delete', ?, ?)"));
        del.addBindValue(transcriptId);
        del.addBindValue(TranscriptDocument::text(words));
        if (!del.exec())
            return false;
    }
    del.prepare(QStringLiteral("DELETE FROM lines WHERE id BETWEEN ? AND ?"));
    del.addBindValue(firstLineOf(transcriptId));
    del.addBindValue(lastLineOf(transcriptId));
    if (!del.exec())
        return false;
    del.prepare(QStringLiteral("DELETE FROM transcripts WHERE id = ?"));
    del.addBindValue(transcriptId);
    m_removed = true;
    return del.exec();
}

namespace {

struct PreparedLine
{
    int index;
    qint64 startMs;
    QString text;
    QString normalised;
    QString words;
};

// A transcript read and folded, ready to be written: the costly part of indexing, done apart
// from the database so that it can run on another thread.
struct PreparedFile
{
    QString path;
    FileStamp stamp;
    bool readable = false;
    QVector<PreparedLine> lines;
};

// A transcript's non-blank lines as the text pane shows them, each with its number and its
// time: take(number, startMs, text). False when it cannot be read.
template <typename Take> bool forEachLine(const QString &path, Take &&take)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    // As the text pane reads it: what follows a NUL is not shown.
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    const QString text = QTextCodec::codecForLocale()->toUnicode(bytes);
    TranscriptTimes times;
    QVector<qint64> starts;
    if (TranscriptTimesRules::load(path, &times))
        starts = TranscriptTimesRules::lineStarts(text, times.paragraphs);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString l = lines[i];
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
        if (!l.trimmed().isEmpty())
            take(i, i < starts.size() ? starts[i] : qint64(-1), l);
    }
    return true;
}

PreparedFile prepareFile(const QString &path, const FileStamp &stamp)
{
    PreparedFile prepared;
    prepared.path = path;
    prepared.stamp = stamp;
    // Gone or unreadable meanwhile: nothing to hold.
    prepared.readable = forEachLine(path, [&](int number, qint64 startMs, const QString &l) {
        const QString normalised = SearchText::normalise(l);
        prepared.lines.append(
            { number, startMs, l, normalised, SearchText::wordTableText(normalised) });
    });
    return prepared;
}

// f(i) for each i below count, half of them on another core.
template <typename F> void onBothCores(int count, const F &f)
{
    const auto range = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            f(i);
    };
    const int half = count / 2;
    auto other = std::async(std::launch::async, range, half, count);
    range(0, half);
    other.get();
}

// The prepared files read on both cores, in their order.
QVector<PreparedFile> prepareFiles(const QVector<QPair<QString, FileStamp>> &files)
{
    QVector<PreparedFile> prepared(files.size());
    onBothCores(
        files.size(), [&](int i) { prepared[i] = prepareFile(files[i].first, files[i].second); });
    return prepared;
}

} // namespace

// The statements a batch of writes shares, prepared once.
struct TranscriptIndex::Writer
{
    explicit Writer(const QSqlDatabase &db)
        : transcript(db)
        , line(db)
        , document(db)
    {
        transcript.prepare(QStringLiteral(
            "INSERT INTO transcripts (path, size, mtime, times_mtime) VALUES (?, ?, ?, ?)"));
        line.prepare(QStringLiteral(
            "INSERT INTO lines (id, line, start_ms, text, norm) VALUES (?, ?, ?, ?, ?)"));
        document.prepare(QStringLiteral("INSERT INTO docs (rowid, t) VALUES (?, ?)"));
    }

    bool write(const PreparedFile &file)
    {
        if (!file.readable)
            return true;
        transcript.addBindValue(file.path);
        transcript.addBindValue(file.stamp.size);
        transcript.addBindValue(file.stamp.mtime);
        transcript.addBindValue(file.stamp.timesMtime);
        if (!transcript.exec())
            return false;
        const qint64 id = transcript.lastInsertId().toLongLong();
        QStringList words;
        words.reserve(file.lines.size());
        for (const PreparedLine &l : file.lines) {
            line.addBindValue(firstLineOf(id) | words.size());
            line.addBindValue(l.index);
            line.addBindValue(l.startMs);
            line.addBindValue(
                QByteArray::fromRawData(reinterpret_cast<const char *>(l.text.constData()),
                    l.text.size() * int(sizeof(QChar))));
            line.addBindValue(l.normalised);
            if (!line.exec())
                return false;
            words.append(l.words);
        }
        if (words.isEmpty())
            return true;
        document.addBindValue(id);
        document.addBindValue(TranscriptDocument::text(words));
        return document.exec();
    }

    QSqlQuery transcript;
    QSqlQuery line;
    QSqlQuery document;
};

bool TranscriptIndex::readFile(const QString &path, qint64 size, qint64 mtime, qint64 timesMtime)
{
    FileStamp stamp;
    stamp.size = size;
    stamp.mtime = mtime;
    stamp.timesMtime = timesMtime;
    Writer writer(m_db);
    return writer.write(prepareFile(path, stamp));
}

void TranscriptIndex::settle()
{
    // Removed words leave the full-text tables only when their segments are merged; the log
    // holds old pages until it is emptied.
    if (m_removed) {
        exec(QStringLiteral("INSERT INTO docs (docs) VALUES ('optimize')"));
        m_removed = false;
    }
    exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

// Settings for writing many transcripts at once, and back to the safe ones after: the log is
// not synced on every commit (a file damaged by a crash is found and made anew at the next
// open), the cache is larger, and freed pages need no overwriting while nothing is removed
// (the pages that segment merges free hold only lines the index still holds).
// FTS5's own settings for the word table, which it keeps in the table.
void TranscriptIndex::mergeAsUsual()
{
    exec(QStringLiteral("INSERT INTO docs (docs, rank) VALUES ('hashsize', %1)").arg(kWords));
    exec(QStringLiteral("INSERT INTO docs (docs, rank) VALUES ('automerge', 4)"));
    exec(QStringLiteral("INSERT INTO docs (docs, rank) VALUES ('crisismerge', 16)"));
}

class TranscriptIndex::BulkWrite
{
public:
    BulkWrite(TranscriptIndex &index, bool removes, bool many)
        : m_index(index)
        , m_many(many)
    {
        m_index.exec(QStringLiteral("PRAGMA synchronous = OFF"));
        m_index.exec(QStringLiteral("PRAGMA cache_size = -65536"));
        if (!removes)
            m_index.exec(QStringLiteral("PRAGMA secure_delete = OFF"));
        // A batch's words held until its commit rather than written out a megabyte at a time:
        // each early write was one more segment to merge, a quarter of a first build's
        // processor time once the character pairs were indexed.
        // Nor are the segments merged as they come: the last merge takes them all at once.
        if (m_many) {
            m_index.exec(QStringLiteral("INSERT INTO docs (docs, rank) VALUES ('hashsize', %1)")
                             .arg(kBulkWords));
            m_index.exec(QStringLiteral("INSERT INTO docs (docs, rank) VALUES ('automerge', 0)"));
            m_index.exec(QStringLiteral("INSERT INTO docs (docs, rank) VALUES ('crisismerge', %1)")
                             .arg(kBulkSegments));
        }
    }
    ~BulkWrite()
    {
        m_index.exec(QStringLiteral("PRAGMA secure_delete = ON"));
        m_index.exec(QStringLiteral("PRAGMA cache_size = -2000"));
        m_index.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        // Many batches leave the table in many segments, each one more place a query looks.
        if (m_many) {
            m_index.mergeAsUsual();
            m_index.m_removed = true;
        }
        m_index.settle();
    }
    BulkWrite(const BulkWrite &) = delete;
    BulkWrite &operator=(const BulkWrite &) = delete;

private:
    TranscriptIndex &m_index;
    bool m_many;
};

namespace {

// What the index holds of a transcript.
struct Known
{
    qint64 id;
    FileStamp stamp;
};

bool readKnown(QSqlDatabase &db, QHash<QString, Known> *known)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT id, path, size, mtime, times_mtime FROM transcripts")))
        return false;
    while (q.next()) {
        Known k;
        k.id = q.value(0).toLongLong();
        k.stamp.size = q.value(2).toLongLong();
        k.stamp.mtime = q.value(3).toLongLong();
        k.stamp.timesMtime = q.value(4).toLongLong();
        known->insert(q.value(1).toString(), k);
    }
    return true;
}

// A transcript to add (oldId -1), to read again (its rows oldId go first), or gone (no path).
struct Change
{
    QString path;
    qint64 oldId;
    FileStamp stamp;
};

QVector<Change> changesIn(const QString &folder, QHash<QString, Known> known)
{
    QVector<Change> work;
    for (const QString &path : transcriptsIn(folder)) {
        const FileStamp stamp = stampOf(path);
        const auto found = known.find(path);
        if (found == known.end()) {
            work.append({ path, -1, stamp });
            continue;
        }
        const FileStamp &was = found->stamp;
        if (was.size != stamp.size || was.mtime != stamp.mtime
            || was.timesMtime != stamp.timesMtime)
            work.append({ path, found->id, stamp });
        known.erase(found);
    }
    // What is left is gone from the folder.
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        work.append({ QString(), it->id, FileStamp() });
    return work;
}

} // namespace

bool TranscriptIndex::sync(const std::function<void(int, int)> &progress)
{
    QHash<QString, Known> known;
    if (!isOpen() || !readKnown(m_db, &known))
        return false;
    const QVector<Change> work = changesIn(m_folder, std::move(known));
    if (work.isEmpty())
        return true;
    const bool removes
        = std::any_of(work.cbegin(), work.cend(), [](const Change &w) { return w.oldId >= 0; });
    BulkWrite bulk(*this, removes, work.size() > kBatch);
    const auto read = [&work](int start) {
        QVector<QPair<QString, FileStamp>> files;
        for (int i = start; i < std::min<int>(work.size(), start + kBatch); ++i) {
            if (!work[i].path.isEmpty())
                files.append({ work[i].path, work[i].stamp });
        }
        return std::async(std::launch::async, prepareFiles, std::move(files));
    };
    // Read and folded before the transaction, so that the writes hold it only briefly; the next
    // batch while this one is written, which takes one core of the two.
    auto next = read(0);
    for (int start = 0; start < work.size(); start += kBatch) {
        const int end = std::min<int>(work.size(), start + kBatch);
        const QVector<PreparedFile> prepared = next.get();
        if (end < work.size())
            next = read(end);
        if (!m_db.transaction())
            return false;
        bool ok = true;
        for (int i = start; i < end && ok; ++i)
            ok = work[i].oldId < 0 || removeRows(work[i].oldId);
        Writer writer(m_db);
        for (int i = 0; i < prepared.size() && ok; ++i)
            ok = writer.write(prepared[i]);
        if (!ok) {
            m_db.rollback();
            return false;
        }
        if (!m_db.commit())
            return false;
        if (progress)
            progress(end, work.size());
    }
    settle();
    return true;
}

bool TranscriptIndex::update(const QString &given)
{
    const QString path = cleanPath(given);
    if (!isOpen())
        return false;
    if (!m_db.transaction())
        return false;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT id FROM transcripts WHERE path = ?"));
    q.addBindValue(path);
    bool ok = q.exec();
    if (ok && q.next())
        ok = removeRows(q.value(0).toLongLong());
    q.finish();
    const FileStamp stamp = stampOf(path);
    if (ok && stamp.size >= 0)
        ok = readFile(path, stamp.size, stamp.mtime, stamp.timesMtime);
    if (!ok) {
        m_db.rollback();
        return false;
    }
    if (!m_db.commit())
        return false;
    settle();
    return true;
}

bool TranscriptIndex::remove(const QString &path)
{
    return update(path);
}

bool TranscriptIndex::rename(const QString &oldGiven, const QString &newGiven)
{
    const QString oldPath = cleanPath(oldGiven);
    const QString newPath = cleanPath(newGiven);
    if (!isOpen())
        return false;
    // Whatever was indexed at the new name is gone; the lines move with their transcript.
    if (!m_db.transaction())
        return false;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT id FROM transcripts WHERE path = ?"));
    q.addBindValue(newPath);
    bool ok = q.exec();
    if (ok && q.next())
        ok = removeRows(q.value(0).toLongLong());
    q.finish();
    if (ok) {
        q.prepare(QStringLiteral("UPDATE transcripts SET path = ? WHERE path = ?"));
        q.addBindValue(newPath);
        q.addBindValue(oldPath);
        ok = q.exec();
    }
    if (!ok || !m_db.commit()) {
        m_db.rollback();
        return false;
    }
    settle();
    // A rename over a file, or one outside the index's sight, is read afresh.
    const FileStamp stamp = stampOf(newPath);
    q.prepare(QStringLiteral("SELECT size, mtime, times_mtime FROM transcripts WHERE path = ?"));
    q.addBindValue(newPath);
    if (!q.exec())
        return false;
    if (!q.next() || q.value(0).toLongLong() != stamp.size || q.value(1).toLongLong() != stamp.mtime
        || q.value(2).toLongLong() != stamp.timesMtime) {
        q.finish();
        return update(newPath);
    }
    return true;
}

int TranscriptIndex::transcriptCount()
{
    QSqlQuery q(m_db);
    if (q.exec(QStringLiteral("SELECT count(*) FROM transcripts")) && q.next())
        return q.value(0).toInt();
    return 0;
}

bool TranscriptIndex::rankExactly(
    const QString &expression, int limit, QVector<Shown> *shown, int *total)
{
    const QByteArray utf8 = expression.toUtf8();
    std::vector<RankedRow> rows;
    qint64 middle = 0;
    if (m_second && middleId(m_handle, &middle)) {
        // Each half ranked on a core of its own, and their best merged.
        auto upper = std::async(std::launch::async, rankRange, m_second, utf8, middle + 1,
            std::numeric_limits<qint64>::max(), limit);
        const RangeRanking lower
            = rankRange(m_handle, utf8, std::numeric_limits<qint64>::min(), middle, limit);
        RangeRanking other = upper.get();
        if (!lower.ok || !other.ok)
            return false;
        *total = int(lower.total + other.total);
        rows = lower.rows;
        rows.insert(rows.end(), std::make_move_iterator(other.rows.begin()),
            std::make_move_iterator(other.rows.end()));
        std::sort(rows.begin(), rows.end(), rankedBefore);
    } else {
        RangeRanking all = rankRange(m_handle, utf8, std::numeric_limits<qint64>::min(),
            std::numeric_limits<qint64>::max(), limit);
        if (!all.ok)
            return false;
        *total = int(all.total);
        rows = std::move(all.rows);
    }
    int listed = 0;
    for (const RankedRow &row : rows) {
        if (listed >= limit)
            break;
        Shown s;
        s.path = QString::fromUtf8(row.path);
        const QByteArray &list = row.lines;
        for (int at = 0; at + int(sizeof(qint32)) <= list.size(); at += int(sizeof(qint32))) {
            qint32 line = 0;
            std::memcpy(&line, list.constData() + at, sizeof line);
            s.lines.append(firstLineOf(row.id) | line);
        }
        listed += s.lines.size();
        shown->append(s);
    }
    return true;
}

bool TranscriptIndex::tallyByRules(
    const QString &expression, const SearchText::Query &parsed, Tally *tally)
{
    // The lines the table finds every term in are matched by the text rules, from their kept
    // normalised text; without the table's function, every line of the transcripts it finds.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(m_countsInstances
            ? QStringLiteral("SELECT l.id, l.norm FROM (SELECT rowid AS id, matched(docs, 2) AS "
                             "list FROM docs WHERE docs MATCH ? LIMIT -1) AS f, "
                             "json_each(f.list) AS j JOIN lines AS l ON l.id = "
                             "((f.id << 32) | j.value)")
            : QStringLiteral("SELECT l.id, l.norm FROM docs JOIN lines AS l ON l.id BETWEEN "
                             "(docs.rowid << 32) AND ((docs.rowid << 32) | 4294967295) "
                             "WHERE docs MATCH ?"));
    q.addBindValue(expression);
    if (!q.exec())
        return false;
    while (q.next()) {
        const int count = SearchText::countInNormalised(q.value(1).toString(), parsed);
        if (count == 0)
            continue;
        const qint64 line = q.value(0).toLongLong();
        const qint64 transcript = line >> 32;
        tally->lines[transcript].append(line);
        tally->count[transcript] += count;
        ++tally->total;
    }
    return q.lastError().type() == QSqlError::NoError;
}

SearchResults TranscriptIndex::search(const QString &query, int limit, bool *ok)
{
    SearchResults results;
    if (ok)
        *ok = true;
    const SearchText::Query parsed = SearchText::parse(query);
    QStringList words;
    bool exact = m_countsInstances;
    for (const QString &term : parsed.terms) {
        const QString e = SearchText::wordExpression(term);
        exact = exact && !e.isEmpty() && SearchText::indexCountsExactly(term);
        if (!e.isEmpty())
            words.append(QLatin1Char('(') + e + QLatin1Char(')'));
    }
    // A query of nothing the table holds (punctuation alone) finds nothing.
    if (!isOpen() || words.isEmpty())
        return results;
    // The line end last, so that the table tells where each line ends.
    words.append(QLatin1Char('"') + TranscriptDocument::lineEnd() + QLatin1Char('"'));
    const QString expression = words.join(QStringLiteral(" AND "));
    if (!m_secondTried)
        openSecondReader();
    QVector<Shown> shown;
    bool done = false;
    if (exact) {
        done = rankExactly(expression, limit, &shown, &results.total);
    } else {
        Tally tally;
        done = tallyByRules(expression, parsed, &tally) && rankTranscripts(tally, limit, &shown);
        results.total = tally.total;
    }
    if (!done || !fetchHits(parsed, shown, limit, &results)) {
        if (ok)
            *ok = false;
        return SearchResults();
    }
    return results;
}

SearchResults TranscriptIndex::scan(const QString &folder, const QString &query)
{
    SearchResults results;
    const SearchText::Query parsed = SearchText::parse(query);
    // As search() has it: a query of nothing the word table holds (punctuation alone) finds
    // nothing.
    if (std::all_of(parsed.terms.begin(), parsed.terms.end(),
            [](const QString &term) { return SearchText::wordExpression(term).isEmpty(); }))
        return results;
    struct Found
    {
        qint64 mtime = 0;
        int count = 0; // occurrences, as the index ranks them
        QVector<SearchHit> hits;
    };
    const QStringList paths = transcriptsIn(cleanPath(folder));
    QVector<Found> found(paths.size());
    onBothCores(paths.size(), [&](int i) {
        Found &f = found[i];
        f.mtime = stampOf(paths[i]).mtime;
        forEachLine(paths[i], [&](int number, qint64 startMs, const QString &text) {
            const int count = SearchText::countInNormalised(SearchText::normalise(text), parsed);
            if (count == 0)
                return;
            f.count += count;
            f.hits.append(
                { paths[i], number, startMs, text, SearchText::matchSpans(text, parsed) });
        });
    });
    QVector<int> order;
    for (int i = 0; i < found.size(); ++i) {
        if (found[i].count > 0)
            order.append(i);
    }
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        if (found[a].count != found[b].count)
            return found[a].count > found[b].count;
        if (found[a].mtime != found[b].mtime)
            return found[a].mtime > found[b].mtime;
        return paths[a] < paths[b];
    });
    for (int i : order)
        results.hits += found[i].hits;
    results.total = results.hits.size();
    return results;
}

bool TranscriptIndex::rankTranscripts(const Tally &tally, int limit, QVector<Shown> *shown)
{
    // The transcripts with more matches first, then the newer.
    struct Ranked
    {
        qint64 id;
        QString path;
        qint64 mtime;
        int count;
    };
    if (tally.count.isEmpty())
        return true;
    QVector<Ranked> ranked;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, path, mtime FROM transcripts")))
        return false;
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        const auto found = tally.count.constFind(id);
        if (found != tally.count.cend())
            ranked.append({ id, q.value(1).toString(), q.value(2).toLongLong(), *found });
    }
    std::sort(ranked.begin(), ranked.end(), [](const Ranked &a, const Ranked &b) {
        if (a.count != b.count)
            return a.count > b.count;
        if (a.mtime != b.mtime)
            return a.mtime > b.mtime;
        return a.path < b.path;
    });
    int listed = 0;
    for (int i = 0; i < ranked.size() && listed < limit; ++i) {
        Shown s { ranked[i].path, tally.lines.value(ranked[i].id) };
        std::sort(s.lines.begin(), s.lines.end());
        listed += s.lines.size();
        shown->append(s);
    }
    return true;
}

bool TranscriptIndex::fetchHits(
    const SearchText::Query &parsed, const QVector<Shown> &shown, int limit, SearchResults *results)
{
    if (!m_handle)
        return false;
    QVector<HitToRead> wanted;
    for (const Shown &transcript : shown) {
        for (const qint64 id : transcript.lines) {
            if (wanted.size() < limit)
                wanted.append({ &transcript.path, id });
        }
    }
    QVector<SearchHit> hits(wanted.size());
    bool ok = true;
    if (m_second && wanted.size() > 1) {
        // Reading and marking the lines shown is about as costly as the ranking: halved too.
        const int half = wanted.size() / 2;
        auto upper = std::async(std::launch::async, readHits, m_second, std::cref(parsed),
            std::cref(wanted), half, int(wanted.size()), hits.data());
        ok = readHits(m_handle, parsed, wanted, 0, half, hits.data());
        ok = upper.get() && ok;
    } else {
        ok = readHits(m_handle, parsed, wanted, 0, wanted.size(), hits.data());
    }
    if (!ok)
        return false;
    for (SearchHit &hit : hits) {
        if (hit.line >= 0)
            results->hits.append(std::move(hit));
    }
    return true;
}
