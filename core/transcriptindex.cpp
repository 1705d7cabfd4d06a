#include "core/transcriptindex.h"

#include "core/logging.h"
#include "core/transcripttimes.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextCodec>
#include <QVariant>

#include <algorithm>

namespace {

const QString kKind = QStringLiteral("tovarin transcript index");
const QString kVersion = QStringLiteral("2");
// Files read again in one transaction: small enough that a change of the program's own is
// not kept waiting long behind a first build.
const int kBatch = 100;

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

} // namespace

TranscriptIndex::TranscriptIndex() = default;

TranscriptIndex::~TranscriptIndex()
{
    close();
}

QString TranscriptIndex::ruleSignature()
{
    // What the text rules make of a sample: an index built under other rules (OpenCC's tables
    // installed or removed since) would not find, nor remove, its own words.
    return kVersion + QLatin1Char(':')
        + SearchText::normalise(QStringLiteral("ＡＢＣ 體育 Straße"));
}

bool TranscriptIndex::isOpen() const
{
    return m_db.isOpen();
}

void TranscriptIndex::close()
{
    if (m_connection.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
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
        && q.exec(QStringLiteral("SELECT rowid FROM tri WHERE tri MATCH '\"abc\"' LIMIT 1"))
        && q.exec(QStringLiteral("SELECT rowid FROM words WHERE words MATCH '\"a\"' LIMIT 1"));
}

bool TranscriptIndex::makeSchema()
{
    const char *statements[] = {
        "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT)",
        "CREATE TABLE transcripts (id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, "
        "size INTEGER, mtime INTEGER, times_mtime INTEGER)",
        "CREATE TABLE lines (id INTEGER PRIMARY KEY, transcript INTEGER NOT NULL, "
        "line INTEGER NOT NULL, start_ms INTEGER NOT NULL, text TEXT NOT NULL, "
        "norm TEXT NOT NULL)",
        "CREATE INDEX lines_of ON lines (transcript)",
        // Contentless: the text is kept once, in lines. Trigrams need no positions, as every
        // line they find is matched again by the text rules.
        "CREATE VIRTUAL TABLE tri USING fts5(t, tokenize = 'trigram', detail = none, "
        "content = '')",
        "CREATE VIRTUAL TABLE words USING fts5(t, tokenize = 'unicode61 remove_diacritics 0', "
        "content = '')",
    };
    m_db.transaction();
    for (const char *s : statements) {
        if (!exec(QString::fromLatin1(s))) {
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
            // Freed pages are zeroed, so a removed line cannot be read back from the file.
            exec(QStringLiteral("PRAGMA secure_delete = ON"));
            if (!memory) {
                exec(QStringLiteral("PRAGMA journal_mode = WAL"));
                exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
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
    if (!m_db.open() || !exec(QStringLiteral("PRAGMA query_only = ON"))) {
        close();
        return false;
    }
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
    lines.prepare(QStringLiteral("SELECT id, norm FROM lines WHERE transcript = ?"));
    lines.addBindValue(transcriptId);
    if (!lines.exec())
        return false;
    QSqlQuery tri(m_db);
    tri.prepare(QStringLiteral("INSERT INTO tri (tri, rowid, t) VALUES ('delete', ?, ?)"));
    QSqlQuery words(m_db);
    words.prepare(QStringLiteral("INSERT INTO words (words, rowid, t) VALUES ('delete', ?, ?)"));
    // A contentless table forgets a row only when told the words it was given.
    while (lines.next()) {
        const qint64 id = lines.value(0).toLongLong();
        const QString normalised = lines.value(1).toString();
        tri.addBindValue(id);
        tri.addBindValue(normalised);
        words.addBindValue(id);
        words.addBindValue(SearchText::wordTableText(normalised));
        if (!tri.exec() || !words.exec())
            return false;
    }
    QSqlQuery del(m_db);
    del.prepare(QStringLiteral("DELETE FROM lines WHERE transcript = ?"));
    del.addBindValue(transcriptId);
    if (!del.exec())
        return false;
    del.prepare(QStringLiteral("DELETE FROM transcripts WHERE id = ?"));
    del.addBindValue(transcriptId);
    m_removed = true;
    return del.exec();
}

bool TranscriptIndex::readFile(const QString &path, qint64 size, qint64 mtime, qint64 timesMtime)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // gone or unreadable meanwhile: nothing to hold
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

    QSqlQuery q(m_db);
    q.prepare(QStringLiteral(
        "INSERT INTO transcripts (path, size, mtime, times_mtime) VALUES (?, ?, ?, ?)"));
    q.addBindValue(path);
    q.addBindValue(size);
    q.addBindValue(mtime);
    q.addBindValue(timesMtime);
    if (!q.exec())
        return false;
    const qint64 id = q.lastInsertId().toLongLong();

    QSqlQuery line(m_db);
    line.prepare(QStringLiteral(
        "INSERT INTO lines (transcript, line, start_ms, text, norm) VALUES (?, ?, ?, ?, ?)"));
    QSqlQuery tri(m_db);
    tri.prepare(QStringLiteral("INSERT INTO tri (rowid, t) VALUES (?, ?)"));
    QSqlQuery words(m_db);
    words.prepare(QStringLiteral("INSERT INTO words (rowid, t) VALUES (?, ?)"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString l = lines[i];
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
        if (l.trimmed().isEmpty())
            continue;
        line.addBindValue(id);
        line.addBindValue(i);
        line.addBindValue(i < starts.size() ? starts[i] : qint64(-1));
        const QString normalised = SearchText::normalise(l);
        line.addBindValue(l);
        line.addBindValue(normalised);
        if (!line.exec())
            return false;
        const qint64 lineId = line.lastInsertId().toLongLong();
        tri.addBindValue(lineId);
        tri.addBindValue(normalised);
        words.addBindValue(lineId);
        words.addBindValue(SearchText::wordTableText(normalised));
        if (!tri.exec() || !words.exec())
            return false;
    }
    return true;
}

void TranscriptIndex::settle()
{
    // Removed words leave the full-text tables only when their segments are merged; the log
    // holds old pages until it is emptied.
    if (m_removed) {
        exec(QStringLiteral("INSERT INTO tri (tri) VALUES ('optimize')"));
        exec(QStringLiteral("INSERT INTO words (words) VALUES ('optimize')"));
        m_removed = false;
    }
    exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

bool TranscriptIndex::sync(const std::function<void(int, int)> &progress)
{
    if (!isOpen())
        return false;
    struct Known
    {
        qint64 id;
        FileStamp stamp;
    };
    QHash<QString, Known> known;
    {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("SELECT id, path, size, mtime, times_mtime FROM transcripts")))
            return false;
        while (q.next()) {
            Known k;
            k.id = q.value(0).toLongLong();
            k.stamp.size = q.value(2).toLongLong();
            k.stamp.mtime = q.value(3).toLongLong();
            k.stamp.timesMtime = q.value(4).toLongLong();
            known.insert(q.value(1).toString(), k);
        }
    }
    struct Work
    {
        QString path;
        qint64 oldId; // -1: new
        FileStamp stamp;
    };
    QVector<Work> work;
    for (const QString &path : transcriptsIn(m_folder)) {
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

    for (int start = 0; start < work.size(); start += kBatch) {
        if (!m_db.transaction())
            return false;
        const int end = std::min<int>(work.size(), start + kBatch);
        for (int i = start; i < end; ++i) {
            const Work &w = work[i];
            if ((w.oldId >= 0 && !removeRows(w.oldId))
                || (!w.path.isEmpty()
                    && !readFile(w.path, w.stamp.size, w.stamp.mtime, w.stamp.timesMtime))) {
                m_db.rollback();
                return false;
            }
        }
        if (!m_db.commit())
            return false;
        if (progress)
            progress(end, work.size());
    }
    if (!work.isEmpty())
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

SearchResults TranscriptIndex::search(const QString &query, int limit, bool *ok)
{
    SearchResults results;
    if (ok)
        *ok = true;
    const SearchText::Query parsed = SearchText::parse(query);
    QStringList trigrams;
    QStringList words;
    for (const QString &term : parsed.terms) {
        const QString e = SearchText::usesTrigrams(term) ? SearchText::trigramExpression(term)
                                                         : SearchText::wordExpression(term);
        if (e.isEmpty())
            continue;
        (SearchText::usesTrigrams(term) ? trigrams : words)
            .append(QLatin1Char('(') + e + QLatin1Char(')'));
    }
    // A query of nothing the tables hold (punctuation alone) finds nothing.
    if (!isOpen() || (trigrams.isEmpty() && words.isEmpty()))
        return results;

    // First what matches and how often, from the kept normalised lines alone; the lines
    // themselves only for the hits that are shown.
    QString sql = QStringLiteral("SELECT l.id, l.transcript, l.norm FROM lines l WHERE 1");
    if (!trigrams.isEmpty())
        sql += QStringLiteral(" AND l.id IN (SELECT rowid FROM tri WHERE tri MATCH :tri)");
    if (!words.isEmpty())
        sql += QStringLiteral(" AND l.id IN (SELECT rowid FROM words WHERE words MATCH :words)");
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(sql);
    if (!trigrams.isEmpty())
        q.bindValue(QStringLiteral(":tri"), trigrams.join(QStringLiteral(" AND ")));
    if (!words.isEmpty())
        q.bindValue(QStringLiteral(":words"), words.join(QStringLiteral(" AND ")));
    const auto failed = [ok] {
        if (ok)
            *ok = false;
        return SearchResults();
    };
    if (!q.exec())
        return failed();

    struct Found
    {
        qint64 line;
        qint64 transcript;
    };
    QVector<Found> found;
    QHash<qint64, int> perTranscript;
    while (q.next()) {
        const int count = SearchText::countInNormalised(q.value(2).toString(), parsed);
        if (count == 0)
            continue;
        const qint64 transcript = q.value(1).toLongLong();
        found.append({ q.value(0).toLongLong(), transcript });
        perTranscript[transcript] += count;
    }
    if (q.lastError().type() != QSqlError::NoError)
        return failed();
    q.finish();
    if (found.isEmpty())
        return results;

    struct Transcript
    {
        QString path;
        qint64 mtime = 0;
    };
    QHash<qint64, Transcript> transcripts;
    if (!q.exec(QStringLiteral("SELECT id, path, mtime FROM transcripts")))
        return failed();
    while (q.next()) {
        if (perTranscript.contains(q.value(0).toLongLong()))
            transcripts.insert(
                q.value(0).toLongLong(), { q.value(1).toString(), q.value(2).toLongLong() });
    }
    q.finish();

    std::sort(found.begin(), found.end(), [&](const Found &a, const Found &b) {
        if (a.transcript != b.transcript) {
            const int ca = perTranscript.value(a.transcript);
            const int cb = perTranscript.value(b.transcript);
            if (ca != cb)
                return ca > cb;
            const Transcript &ta = transcripts[a.transcript];
            const Transcript &tb = transcripts[b.transcript];
            if (ta.mtime != tb.mtime)
                return ta.mtime > tb.mtime;
            return ta.path < tb.path;
        }
        return a.line < b.line; // ids in the order the lines were read
    });
    results.total = found.size();
    const int kept = std::min<int>(found.size(), std::max(0, limit));
    results.hits.reserve(kept);
    QSqlQuery line(m_db);
    line.prepare(QStringLiteral("SELECT line, start_ms, text FROM lines WHERE id = ?"));
    for (int i = 0; i < kept; ++i) {
        line.addBindValue(found[i].line);
        if (!line.exec() || !line.next())
            return failed();
        SearchHit hit;
        hit.path = transcripts[found[i].transcript].path;
        hit.line = line.value(0).toInt();
        hit.startMs = line.value(1).toLongLong();
        hit.text = line.value(2).toString();
        hit.spans = SearchText::matchSpans(hit.text, parsed);
        results.hits.append(hit);
    }
    return results;
}
