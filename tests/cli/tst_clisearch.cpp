// tovarin-transcribe --search run as a user runs it: a real process over transcript folders,
// the window's library through its index and any other folder without one.
#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include "core/transcriptindex.h"
#include "core/transcripttimes.h"

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

} // namespace

class CliSearchTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void anyFolderLikeGrep();
    void theLibraryThroughItsIndex();
    void usage();

private:
    int run(const QStringList &arguments);
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;
    QString m_err;
};

void CliSearchTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

int CliSearchTest::run(const QStringList &arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u("XDG_DATA_HOME"), m_dir->filePath(u("data")));
    p.setProcessEnvironment(env);
    p.start(u(TOVARIN_TRANSCRIBE), arguments);
    if (!p.waitForFinished(60000))
        return -1;
    m_out = QString::fromLocal8Bit(p.readAllStandardOutput());
    m_err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void CliSearchTest::anyFolderLikeGrep()
{
    const QString folder = m_dir->filePath(u("notes"));
    QDir().mkpath(folder);
    const QString talk = folder + u("/talk.txt");
    writeText(talk, u("开场白\n今天的会议讨论预算\n"));
    writeText(folder + u("/other.txt"), u("Budget meeting at noon\n"));
    TranscriptTimes times;
    times.paragraphs = { TimedParagraph { u("今天的会议讨论预算"),
        { TimedUtterance { 3723000, 3725000, u("今天的会议讨论预算"), {} } } } };
    QVERIFY(TranscriptTimesRules::save(talk, times));

    QCOMPARE(run({ u("--search"), u("會議"), folder }), 0);
    QCOMPARE(m_out, folder + u("/talk.txt:1:02:03: 今天的会议讨论预算\n"));
    QCOMPARE(run({ u("--search"), u("MEET"), folder }), 0);
    QCOMPARE(m_out, folder + u("/other.txt:: Budget meeting at noon\n"));
    QCOMPARE(run({ u("--search"), u("eeting"), folder }), 1);
    QCOMPARE(m_out, QString());
    // Nothing was written into the user's data folder for it.
    QVERIFY(!QFileInfo::exists(m_dir->filePath(u("data/tovarin/transcript-index.sqlite"))));
}

void CliSearchTest::theLibraryThroughItsIndex()
{
    // The window's library and its index, as the window left them.
    const QString library = m_dir->filePath(u("library"));
    QDir().mkpath(library);
    const QString a = library + u("/a.txt");
    writeText(a, u("第一次记录\n"));
    const QString indexFile = m_dir->filePath(u("data/tovarin/transcript-index.sqlite"));
    QDir().mkpath(QFileInfo(indexFile).absolutePath());
    {
        TranscriptIndex index;
        QVERIFY(index.open(indexFile, library));
        QVERIFY(index.sync());
    }
    // Changed since by another program: the command brings the index up to date.
    writeText(a, u("第二次记录，更长一些\n"));
    QCOMPARE(run({ u("--search"), u("第二次") }), 0);
    QCOMPARE(m_out, QDir::cleanPath(library) + u("/a.txt:: 第二次记录，更长一些\n"));
    QCOMPARE(run({ u("--search"), u("第一次"), library }), 1);
    TranscriptIndex index;
    QVERIFY(index.openToRead(indexFile, library));
    QCOMPARE(index.search(u("第二次")).total, 1);
}

void CliSearchTest::usage()
{
    QCOMPARE(run({ u("--search"), u("  ") }), 2);
    QVERIFY(m_err.contains(u("empty")));
    QCOMPARE(run({ u("--search"), u("x"), u("a"), u("b") }), 2);
    QCOMPARE(run({ u("--search"), u("x"), m_dir->filePath(u("missing")) }), 2);
}

QTEST_GUILESS_MAIN(CliSearchTest)
#include "tst_clisearch.moc"
