// Search across transcripts: what a query finds in Chinese, English and mixed lines, and the
// index kept right through the program's own changes, other programs' changes and damage.
#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "core/libraryindex.h"
#include "core/transcriptindex.h"
#include "core/transcripttimes.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace {

QString u(const char *s)
{
    return QString::fromUtf8(s);
}

void writeText(const QString &path, const QString &text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *s : list)
        out << QString::fromUtf8(s);
    return out;
}

void setModified(const QString &path, const QDateTime &time)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(time, QFileDevice::FileModificationTime));
}

// "name:line" of each hit, in the order given.
QStringList found(const SearchResults &results)
{
    QStringList out;
    for (const SearchHit &h : results.hits)
        out << QStringLiteral("%1:%2").arg(QFileInfo(h.path).fileName()).arg(h.line);
    return out;
}

QByteArray indexBytes(const QString &file)
{
    QByteArray all;
    for (const char *suffix : { "", "-wal", "-journal" }) {
        QFile f(file + QLatin1String(suffix));
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

// Whether the index's files hold text, in UTF-8 or as QString holds it.
bool indexHolds(const QString &file, const QString &text)
{
    const QByteArray all = indexBytes(file);
    return all.contains(text.toUtf8())
        || all.contains(QByteArray::fromRawData(
            reinterpret_cast<const char *>(text.constData()), text.size() * int(sizeof(QChar))));
}

} // namespace

class SearchIndexTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void queries_data();
    void queries();
    void matchIsMarkedInTheLineAsWritten();
    void bestFirstAndTimes();
    void programChangesKeepItRight();
    void damagedOrForeignIndexIsMadeAnew();
    void otherProgramsChangesFoundAtStart();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_library;
    QString m_file;
};

void SearchIndexTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_library = m_dir->filePath(QStringLiteral("myWordFiles"));
    QDir().mkpath(m_library);
    m_file = m_dir->filePath(QStringLiteral("index.sqlite"));
}

void SearchIndexTest::queries_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    // zh.txt: 0 今天天气很好，我们去公园散步。 2 會議記錄：明天下午三點開會 3 软件开发进度
    // en.txt: 0 The Meeting starts at noon 1 we restarted the art project
    // mix.txt: 0 ＡＩ技术大会在北京举行 1 Release 3.5 of the tool 2 下周发布v2版本
    QTest::newRow("chinese inside a longer run") << u("天气") << names({ "zh.txt:0" });
    QTest::newRow("chinese one character") << u("园") << names({ "zh.txt:0" });
    QTest::newRow("chinese phrase of three and more") << u("我们去公园") << names({ "zh.txt:0" });
    QTest::newRow("traditional query, simplified text") << u("軟件開發") << names({ "zh.txt:3" });
    QTest::newRow("simplified query, traditional text") << u("会议记录") << names({ "zh.txt:2" });
    QTest::newRow("english word, any case") << u("MEETING") << names({ "en.txt:0" });
    QTest::newRow("english prefix") << u("meet") << names({ "en.txt:0" });
    QTest::newRow("english term inside a word is no match")
        << u("art") << names({ "en.txt:1" }); // "starts" and "restarted" are not found
    QTest::newRow("english short term") << u("we") << names({ "en.txt:1" });
    QTest::newRow("every term") << u("art restart") << names({ "en.txt:1" });
    QTest::newRow("a term missing") << u("art noon") << QStringList();
    QTest::newRow("no phrase across a line break") << u("开会软件") << QStringList();
    // 今天 and 天气 are both there, but not as one run.
    QTest::newRow("chinese pairs apart are no phrase") << u("今天气") << QStringList();
    QTest::newRow("chinese run, then a latin word") << u("发布v2") << names({ "mix.txt:2" });
    QTest::newRow("quoted phrase") << u("\"the art project\"") << names({ "en.txt:1" });
    QTest::newRow("phrase out of order") << u("\"art the\"") << QStringList();
    QTest::newRow("full-width text, half-width query") << u("ai技术") << names({ "mix.txt:0" });
    QTest::newRow("half-width text, full-width query")
        << u("ｒｅｌｅａｓｅ　３．５") << names({ "mix.txt:1" });
    QTest::newRow("mixed scripts, two terms") << u("北京 release") << QStringList();
    QTest::newRow("punctuation alone") << u("，") << QStringList();
    QTest::newRow("nothing") << u("  ") << QStringList();
}

void SearchIndexTest::queries()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    writeText(m_library + u("/zh.txt"),
        u("今天天气很好，我们去公园散步。\n\n會議記錄：明天下午三點開會\n软件开发进度\n"));
    writeText(m_library + u("/en.txt"),
        u("The Meeting starts at noon\r\nwe restarted the art project\n"));
    writeText(m_library + u("/mix.txt"),
        u("ＡＩ技术大会在北京举行\nRelease 3.5 of the tool\n下周发布v2版本"));
    TranscriptIndex index;
    QVERIFY(index.open(m_file, m_library));
    QVERIFY(index.sync());
    bool ok = false;
    const SearchResults results = index.search(query, 500, &ok);
    QVERIFY(ok);
    QCOMPARE(found(results), expected);
    QCOMPARE(results.total, expected.size());
    // Read without an index, as the command line reads any other folder: the same.
    const SearchResults scanned = TranscriptIndex::scan(m_library, query);
    QCOMPARE(found(scanned), expected);
    for (int i = 0; i < scanned.hits.size(); ++i) {
        QCOMPARE(scanned.hits[i].startMs, results.hits[i].startMs);
        QCOMPARE(scanned.hits[i].spans, results.hits[i].spans);
    }
}

void SearchIndexTest::matchIsMarkedInTheLineAsWritten()
{
    const QString line = u("ＭＥＥＴＩＮＧ 與會議 meet");
    const auto spans = SearchText::matchSpans(line, SearchText::parse(u("meet 会议")));
    // Full-width letters are one character each in the line, as are the traditional ones.
    const QVector<QPair<int, int>> expected { { 0, 4 }, { 9, 11 }, { 12, 16 } };
    QCOMPARE(spans, expected);
    // A decomposed accent folds as the composed one, and is marked with its letter.
    const QString decomposed = QStringLiteral("cafe\u0301 noir");
    const QVector<QPair<int, int>> accent { { 0, 5 } };
    QCOMPARE(
        SearchText::matchSpans(decomposed, SearchText::parse(QStringLiteral("caf\u00e9"))), accent);
}

void SearchIndexTest::bestFirstAndTimes()
{
    const QString older = m_library + u("/older.txt");
    const QString newer = m_library + u("/newer.txt");
    const QString most = m_library + u("/most.txt");
    writeText(older, u("预算讨论\n"));
    writeText(newer, u("其他\n预算讨论\n"));
    writeText(most, u("预算 预算\n"));
    setModified(older, QDateTime::currentDateTime().addDays(-2));
    setModified(most, QDateTime::currentDateTime().addDays(-5));
    // newer.txt's second line was said 61 s in.
    TranscriptTimes times;
    times.source = m_dir->filePath(u("newer.wav"));
    TimedParagraph other { u("其他"), { TimedUtterance { 1000, 2000, u("其他"), {} } } };
    TimedParagraph budget { u("预算讨论"), { TimedUtterance { 61000, 64000, u("预算讨论"), {} } } };
    times.paragraphs = { other, budget };
    QVERIFY(TranscriptTimesRules::save(newer, times));

    // In memory one connection ranks; in a file two, each half of the transcripts, merged.
    for (const QString &file : { u(":memory:"), m_file }) {
        TranscriptIndex index;
        QVERIFY(index.open(file, m_library));
        QVERIFY(index.sync());
        const SearchResults results = index.search(u("预算"));
        QCOMPARE(found(results), names({ "most.txt:0", "newer.txt:1", "older.txt:0" }));
        QCOMPARE(results.total, 3);
        QCOMPARE(results.hits[1].startMs, qint64(61000));
        QCOMPARE(results.hits[2].startMs, qint64(-1));
        QCOMPARE(results.hits[0].spans.size(), 2);
        // The limit keeps the best.
        QCOMPARE(found(index.search(u("预算"), 1)), names({ "most.txt:0" }));
    }
}

void SearchIndexTest::programChangesKeepItRight()
{
    const QString a = m_library + u("/a.txt");
    writeText(a, u("Zebrafinch 鹦鹉学舌\n"));
    LibraryIndex library(m_file, m_library);
    QSignalSpy updated(&library, &LibraryIndex::updated);
    library.start();
    QVERIFY(updated.wait(60000));
    QCOMPARE(found(library.search(u("鹦鹉学"))), names({ "a.txt:0" }));
    QVERIFY(indexHolds(m_file, u("Zebrafinch"))); // the line as written, beside its folded form

    // Written: the old text leaves with the new one in.
    writeText(a, u("kingfisher\n"));
    library.transcriptWritten(a);
    QVERIFY(updated.wait(60000));
    QCOMPARE(found(library.search(u("鹦鹉学"))), QStringList());
    QCOMPARE(found(library.search(u("king"))), names({ "a.txt:0" }));
    QVERIFY(!indexHolds(m_file, u("zebrafinch")) && !indexHolds(m_file, u("Zebrafinch")));

    // Renamed: found under the new name only.
    const QString b = m_library + u("/b.txt");
    QVERIFY(QFile::rename(a, b));
    library.transcriptRenamed(a, b);
    QVERIFY(updated.wait(60000));
    QCOMPARE(found(library.search(u("kingfisher"))), names({ "b.txt:0" }));

    // Deleted: nothing of it left, in the tables or in the file's bytes.
    QVERIFY(QFile::remove(b));
    library.transcriptRemoved(b);
    QVERIFY(updated.wait(60000));
    QCOMPARE(found(library.search(u("kingfisher"))), QStringList());
    QVERIFY(!indexHolds(m_file, u("kingfisher")));
}

void SearchIndexTest::damagedOrForeignIndexIsMadeAnew()
{
    writeText(m_library + u("/a.txt"), u("会议纪要\n"));
    {
        TranscriptIndex index;
        QVERIFY(index.open(m_file, m_library));
        QVERIFY(index.sync());
    }
    // Damaged: its first page overwritten.
    {
        QFile f(m_file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(4096, '\x5a'));
    }
    {
        TranscriptIndex index;
        QVERIFY(index.open(m_file, m_library));
        QVERIFY(index.rebuilt());
        QVERIFY(index.sync());
        QCOMPARE(found(index.search(u("会议"))), names({ "a.txt:0" }));
    }
    // Another folder's index, and a database of another program's.
    {
        TranscriptIndex index;
        QVERIFY(index.open(m_file, m_dir->path()));
        QVERIFY(index.rebuilt());
    }
    {
        QFile::remove(m_file);
        QSqlDatabase db = QSqlDatabase::addDatabase(u("QSQLITE"), u("foreign"));
        db.setDatabaseName(m_file);
        QVERIFY(db.open());
        QSqlQuery(db).exec(u("CREATE TABLE meta (key TEXT, value TEXT)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(u("foreign"));
    {
        TranscriptIndex index;
        QVERIFY(index.open(m_file, m_library));
        QVERIFY(index.rebuilt());
        QVERIFY(index.sync());
        QCOMPARE(found(index.search(u("会议"))), names({ "a.txt:0" }));
    }
    // A first build stopped half way leaves the word table unmerged; the next opening mends it.
    const auto automerge = [this](bool stop) {
        int value = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u("QSQLITE"), u("settings"));
            db.setDatabaseName(m_file);
            QSqlQuery q(db.open() ? db : QSqlDatabase());
            if (stop)
                q.exec(u("REPLACE INTO docs_config (k, v) VALUES ('automerge', 0)"));
            if (q.exec(u("SELECT v FROM docs_config WHERE k = 'automerge'")) && q.next())
                value = q.value(0).toInt();
        }
        QSqlDatabase::removeDatabase(u("settings"));
        return value;
    };
    QCOMPARE(automerge(true), 0);
    TranscriptIndex index;
    QVERIFY(index.open(m_file, m_library));
    QVERIFY(!index.rebuilt());
    index.close();
    QCOMPARE(automerge(false), 4);
}

void SearchIndexTest::otherProgramsChangesFoundAtStart()
{
    const QString edited = m_library + u("/edited.txt");
    const QString gone = m_library + u("/gone.txt");
    writeText(edited, u("第一版本的文字\n"));
    writeText(gone, u("第一版本也在这里\n"));
    setModified(gone, QDateTime::currentDateTime().addSecs(2));
    {
        LibraryIndex library(m_file, m_library);
        QSignalSpy building(&library, &LibraryIndex::buildingChanged);
        library.start();
        QVERIFY(library.isBuilding());
        QTRY_VERIFY_WITH_TIMEOUT(!library.isBuilding(), 60000);
        // Equal matches: the newer first, and gone.txt was written last.
        QCOMPARE(found(library.search(u("第一版本"))), names({ "gone.txt:0", "edited.txt:0" }));
    }
    // Another program edits one (same size: the time tells), removes one and adds one.
    writeText(edited, u("第二版本的文字\n"));
    setModified(edited, QDateTime::currentDateTime().addSecs(5));
    QVERIFY(QFile::remove(gone));
    writeText(m_library + u("/added.txt"), u("新来的第二版本\n"));

    LibraryIndex library(m_file, m_library);
    library.start();
    QTRY_VERIFY_WITH_TIMEOUT(!library.isBuilding(), 60000);
    QCOMPARE(found(library.search(u("第一版本"))), QStringList());
    QCOMPARE(library.search(u("第二版本")).total, 2);
}

QTEST_GUILESS_MAIN(SearchIndexTest)
#include "tst_searchindex.moc"
