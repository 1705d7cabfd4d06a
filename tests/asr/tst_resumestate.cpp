// The kept state of a job: its format, what makes it belong to a new run, and its folder.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "asr/jobresume.h"
#include "asr/resumestate.h"
#include "asr/resumestore.h"

class TestResumeState : public QObject
{
    Q_OBJECT

private slots:
    void roundTripKeepsEveryText();
    void everyCutOffStateIsRejected();
    void badStates_data();
    void badStates();
    void resumesOnlyTheSameRun_data();
    void resumesOnlyTheSameRun();
    void anotherFileInItsPlaceIsNotResumed();
    void storeKeepsOneStatePerSource();
    void unwritableFolderKeepsNothing();
    void staleStatesAreRemovedAndNothingElse();
    void jobResumeFollowsTheFile();
};

static ResumeState sampleState()
{
    ResumeState state;
    state.identity.sourcePath = QStringLiteral("/home/u/会议 \"1\".mp3");
    state.identity.sourceSize = 123456789012LL;
    state.identity.sourceModifiedMs = 1765000000123LL;
    state.identity.devPid = 1737;
    state.identity.serviceUrl = QStringLiteral("http://127.0.0.1:18765");
    state.identity.serviceKind = QStringLiteral("transcriptions");
    state.identity.model = QStringLiteral("whisper-1");
    state.identity.contentDigest = QStringLiteral("0123abcd");
    state.identity.segmentSeconds = 59;
    state.segmentCount = 5;
    const TimedUtterance said { 500, 2310, QStringLiteral("first words"),
        { { 500, 1100, QStringLiteral("first") }, { 1200, 2310, QStringLiteral("words") } } };
    state.segments = { { true, QStringLiteral("first words"), { said } }, { false, QString() },
        { true, QString() }, { true, QStringLiteral("a < b & \"c\"\n中文\\") } };
    return state;
}

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void TestResumeState::roundTripKeepsEveryText()
{
    const ResumeState state = sampleState();
    ResumeState read;
    QCOMPARE(
        ResumeRules::parse(ResumeRules::serialize(state), &read), ResumeRules::ParseResult::Ok);
    QVERIFY(read.identity == state.identity);
    QCOMPARE(read.segmentCount, state.segmentCount);
    QCOMPARE(read.segments, state.segments);
}

void TestResumeState::everyCutOffStateIsRejected()
{
    // A state cut anywhere (a torn write, a full disk) never reads as a state.
    const QByteArray whole = ResumeRules::serialize(sampleState());
    for (int length = 0; length < whole.size() - 1; ++length) {
        ResumeState read;
        QVERIFY2(ResumeRules::parse(whole.left(length), &read) != ResumeRules::ParseResult::Ok,
            qPrintable(QString::number(length)));
    }
}

void TestResumeState::badStates_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<int>("result"); // ParseResult

    const int corrupt = int(ResumeRules::ParseResult::Corrupt);
    const int other = int(ResumeRules::ParseResult::OtherVersion);
    // version 1 kept neither times nor the file's content: it is started over, not misread
    QTest::newRow("older version")
        << QByteArray("\"version\" : 2") << QByteArray("\"version\" : 1") << other;
    QTest::newRow("newer version")
        << QByteArray("\"version\" : 2") << QByteArray("\"version\" : 3") << other;
    QTest::newRow("no version") << QByteArray("\"version\"") << QByteArray("\"versio\"") << corrupt;
    QTest::newRow("text version") << QByteArray("\"version\" : 2")
                                  << QByteArray("\"version\" : \"2\"") << corrupt;
    QTest::newRow("time as text") << QByteArray("\"start_ms\" : 1200")
                                  << QByteArray("\"start_ms\" : \"1200\"") << corrupt;
    QTest::newRow("word ends before it starts")
        << QByteArray("\"end_ms\" : 1100") << QByteArray("\"end_ms\" : 400") << corrupt;
    QTest::newRow("more segments than the file")
        << QByteArray("\"segment_count\" : 5") << QByteArray("\"segment_count\" : 3") << corrupt;
    QTest::newRow("no segments") << QByteArray("\"segment_count\" : 5")
                                 << QByteArray("\"segment_count\" : 0") << corrupt;
    QTest::newRow("number as text") << QByteArray("\"first words\"") << QByteArray("7") << corrupt;
    QTest::newRow("size as text") << QByteArray("\"source_size\" : 123456789012")
                                  << QByteArray("\"source_size\" : \"123456789012\"") << corrupt;
    QTest::newRow("no source") << QByteArray("\"source\"") << QByteArray("\"sauce\"") << corrupt;
    QTest::newRow("garbage after") << QByteArray("\n}\n") << QByteArray("\n}\n}") << corrupt;
}

void TestResumeState::badStates()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(int, result);
    QByteArray bytes = ResumeRules::serialize(sampleState());
    QVERIFY2(bytes.contains(from), bytes.constData());
    bytes.replace(from, to);
    ResumeState read;
    read.segmentCount = -7;
    QCOMPARE(int(ResumeRules::parse(bytes, &read)), result);
    QCOMPARE(read.segmentCount, -7); // nothing of a bad state is taken
}

void TestResumeState::resumesOnlyTheSameRun_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("resumes");
    QTest::newRow("same run") << QString() << true;
    QTest::newRow("source grew") << QStringLiteral("size") << false;
    QTest::newRow("source rewritten") << QStringLiteral("time") << false;
    QTest::newRow("source gone") << QStringLiteral("gone") << false;
    QTest::newRow("other language") << QStringLiteral("language") << false;
    QTest::newRow("other service") << QStringLiteral("service") << false;
    QTest::newRow("other cutting") << QStringLiteral("cutting") << false;
    QTest::newRow("other kind of service") << QStringLiteral("kind") << false;
    QTest::newRow("other model") << QStringLiteral("model") << false;
    QTest::newRow("other file") << QStringLiteral("path") << false;
}

void TestResumeState::resumesOnlyTheSameRun()
{
    QFETCH(QString, field);
    QFETCH(bool, resumes);
    const ResumeState kept = sampleState();
    ResumeIdentity now = kept.identity;
    if (field == QLatin1String("size"))
        now.sourceSize += 1;
    else if (field == QLatin1String("time"))
        now.sourceModifiedMs += 1;
    else if (field == QLatin1String("gone"))
        now.sourceSize = now.sourceModifiedMs = -1;
    else if (field == QLatin1String("language"))
        now.devPid = 1537;
    else if (field == QLatin1String("service"))
        now.serviceUrl = QStringLiteral("http://127.0.0.1:18766");
    else if (field == QLatin1String("cutting"))
        now.segmentSeconds = 60;
    else if (field == QLatin1String("kind"))
        now.serviceKind = QStringLiteral("token");
    else if (field == QLatin1String("model"))
        now.model = QStringLiteral("large-v3");
    else if (field == QLatin1String("path"))
        now.sourcePath += QLatin1Char('x');
    QCOMPARE(ResumeRules::canResume(kept, now), resumes);
}

void TestResumeState::anotherFileInItsPlaceIsNotResumed()
{
    // cp -p of another recording of the same length: same path, size and time, other content
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("talk.wav"));
    QVERIFY(writeFile(source, QByteArray(200000, 'a')));
    const QDateTime when = QFileInfo(source).lastModified();
    ResumeState kept;
    kept.identity = ResumeIdentity::of(source, QStringLiteral("英文"), QString());
    kept.segmentCount = 2;
    QVERIFY(ResumeRules::canResume(
        kept, ResumeIdentity::of(source, QStringLiteral("英文"), QString())));

    QByteArray other(200000, 'a');
    other[150000] = 'b'; // past the first 64 KiB: only the end tells them apart
    QVERIFY(writeFile(source, other));
    QFile file(source);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
    file.close();
    const ResumeIdentity now = ResumeIdentity::of(source, QStringLiteral("英文"), QString());
    QCOMPARE(now.sourceModifiedMs, kept.identity.sourceModifiedMs);
    QVERIFY(!ResumeRules::canResume(kept, now));
}

void TestResumeState::storeKeepsOneStatePerSource()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const ResumeStore store(dir.filePath(QStringLiteral("states/deeper")));
    ResumeState state = sampleState();
    QVERIFY(store.save(state));
    state.segments.append({ true, QStringLiteral("more") });
    QVERIFY(store.save(state));
    QCOMPARE(QDir(store.folder()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    ResumeState read;
    QVERIFY(store.load(state.identity.sourcePath, &read));
    QCOMPARE(read.segments, state.segments);
    QVERIFY(!store.load(QStringLiteral("/elsewhere.mp3"), &read));

    // A state filed under another source's name (copied by hand) is not that source's.
    const QString other = QStringLiteral("/home/u/other.mp3");
    QVERIFY(QFile::copy(
        store.folder() + QLatin1Char('/') + ResumeRules::stateFileName(state.identity.sourcePath),
        store.folder() + QLatin1Char('/') + ResumeRules::stateFileName(other)));
    QVERIFY(!store.load(other, &read));

    store.remove(state.identity.sourcePath);
    QVERIFY(!store.load(state.identity.sourcePath, &read));
}

void TestResumeState::unwritableFolderKeepsNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file where the folder should be: no folder can be made there, not even by root.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    QVERIFY(writeFile(blocked, "x"));
    const ResumeStore store(blocked);
    QVERIFY(!store.usable());
    QVERIFY(!store.save(sampleState()));
    store.removeStale();

    // The job runs on and says that nothing is kept; without a folder it says nothing.
    JobResume job(blocked);
    job.beginFile(ResumeIdentity::of(blocked, QStringLiteral("英文"), QString()));
    QVERIFY(!job.keeping());
    QCOMPARE(job.note(), JobResume::Note::NotKeeping);
    QVERIFY(job.segmentsCut(2));
    job.recognised({ true, QStringLiteral("text") });
    job.fileDone();
    JobResume none;
    none.beginFile(ResumeIdentity::of(blocked, QStringLiteral("英文"), QString()));
    QCOMPARE(none.note(), JobResume::Note::None);

    QFile kept(blocked);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("x"));
}

void TestResumeState::staleStatesAreRemovedAndNothingElse()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const ResumeStore store(dir.filePath(QStringLiteral("states")));
    const QString present = dir.filePath(QStringLiteral("present.wav"));
    QVERIFY(writeFile(present, "audio"));
    ResumeState live = sampleState();
    live.identity.sourcePath = present;
    ResumeState gone = sampleState();
    gone.identity.sourcePath = dir.filePath(QStringLiteral("deleted.wav"));
    // a file on a drive that is not mounted now: its folder is missing, its state stays
    ResumeState away = sampleState();
    away.identity.sourcePath = dir.filePath(QStringLiteral("media/usb/away.wav"));
    QVERIFY(store.save(live));
    QVERIFY(store.save(gone));
    QVERIFY(store.save(away));

    QDir folder(store.folder());
    const QString torn = ResumeRules::stateFileName(QStringLiteral("/torn"));
    QVERIFY(writeFile(folder.filePath(torn), ResumeRules::serialize(live).left(40)));
    const QString oldLeftover = ResumeRules::stateFileName(present) + QStringLiteral(".a1B2c3");
    const QString newLeftover = ResumeRules::stateFileName(present) + QStringLiteral(".d4E5f6");
    QVERIFY(writeFile(folder.filePath(oldLeftover), "{"));
    QVERIFY(writeFile(folder.filePath(newLeftover), "{"));
    QFile old(folder.filePath(oldLeftover));
    QVERIFY(old.open(QIODevice::ReadWrite));
    QVERIFY(old.setFileTime(
        QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime));
    old.close();
    QVERIFY(writeFile(folder.filePath(QStringLiteral("notes.txt")), "mine"));

    store.removeStale();
    QStringList expected { ResumeRules::stateFileName(present), newLeftover,
        ResumeRules::stateFileName(away.identity.sourcePath), QStringLiteral("notes.txt") };
    expected.sort();
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

void TestResumeState::jobResumeFollowsTheFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString states = dir.filePath(QStringLiteral("states"));
    const QString source = dir.filePath(QStringLiteral("talk.wav"));
    QVERIFY(writeFile(source, "audio bytes"));
    const QString service = QStringLiteral("http://127.0.0.1:1");
    const auto identity = [&](const char *language) {
        return ResumeIdentity::of(source, QString::fromUtf8(language), service);
    };

    {
        JobResume first(states);
        first.beginFile(identity("英文"));
        QVERIFY(first.keeping());
        QCOMPARE(first.firstSegment(), 0);
        QVERIFY(first.segmentsCut(3));
        first.recognised({ true, QStringLiteral("one") });
        first.recognised({ false, QString() });
    } // the run ends early

    JobResume second(states);
    second.beginFile(identity("英文"));
    QCOMPARE(second.firstSegment(), 2);
    QCOMPARE(second.note(), JobResume::Note::Resuming);
    QCOMPARE(second.keptSegments(),
        (QVector<RecognisedSegment> { { true, QStringLiteral("one") }, { false, QString() } }));
    QVERIFY(second.segmentsCut(3));
    second.recognised({ true, QStringLiteral("three") });
    second.fileDone();
    QVERIFY(QDir(states).isEmpty());

    // Another language, then another cutting of the same file, each start over and drop it.
    JobResume third(states);
    third.beginFile(identity("英文"));
    QVERIFY(third.segmentsCut(3));
    third.recognised({ true, QStringLiteral("one") });
    third.beginFile(identity("中文近场"));
    QCOMPARE(third.firstSegment(), 0);
    QVERIFY(QDir(states).isEmpty());
    QVERIFY(third.segmentsCut(3));
    third.recognised({ true, QStringLiteral("eins") });
    third.beginFile(identity("中文近场"));
    QCOMPARE(third.firstSegment(), 1);
    QVERIFY(!third.segmentsCut(4));
    QCOMPARE(third.firstSegment(), 0);
    QVERIFY(third.keptSegments().isEmpty());
    QVERIFY(QDir(states).isEmpty());
}

QTEST_APPLESS_MAIN(TestResumeState)
#include "tst_resumestate.moc"
