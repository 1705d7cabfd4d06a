// The transcript as a timed document: edits keep the times they should, finding treats width
// forms as one, and unsaved edits survive in their recovery file.
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include "core/recoveryfile.h"
#include "core/textfind.h"
#include "core/timeddocument.h"

namespace {

// "今天 天气 很好" heard 1000–4000 ms with a word every second, and a second line 5000–7000.
TimedLines twoLines(bool withWords)
{
    TimedUtterance first { 1000, 4000, QStringLiteral("今天天气很好"), {} };
    if (withWords)
        first.words = { { 1000, 2000, QStringLiteral("今天") },
            { 2000, 3000, QStringLiteral("天气") }, { 3000, 4000, QStringLiteral("很好") } };
    TimedUtterance second { 5000, 7000, QStringLiteral("我们出去"), {} };
    return { TimedLine { QStringLiteral("今天天气很好"), { first } },
        TimedLine { QStringLiteral("我们出去"), { second } } };
}

} // namespace

class TimedDocumentTest : public QObject
{
    Q_OBJECT

private slots:
    void splitSharesTimesByWordsElseByCharacters();
    void joinAndSetStartKeepTimesConsistent();
    void editsOfTheTextKeepTheirTimes();
    void indexFindsTheUtteranceBeingSpoken();
    void passageHeardAgainReplacesItsUtterances();
    void findTreatsWidthFormsAsOne();
    void recoveryFileIsPrivateAndTellsAChangedTranscript();
};

void TimedDocumentTest::passageHeardAgainReplacesItsUtterances()
{
    // Three utterances: "今天" 1000–2000, "天气很好" 2000–4000, then the second line.
    TimedLines lines = twoLines(false);
    lines[0].utterances = { { 1000, 2000, QStringLiteral("今天"), {} },
        { 2000, 4000, QStringLiteral("天气很好"), {} } };
    // A selection inside "天气很好" only takes that utterance, not its neighbour it touches.
    TimedDocument::Passage passage = TimedDocument::passageIn(lines, 0, 3, 0, 4);
    QCOMPARE(passage.firstUtterance, 1);
    QCOMPARE(passage.startMs, qint64(2000));
    QCOMPARE(passage.endMs, qint64(4000));
    QVERIFY(!TimedDocument::passageIn(lines, 0, 2, 0, 2).valid()); // no selection

    // From "天气" to "我们": both lines' utterances, the lines made one; the new times, heard
    // with a margin, stay after "今天" and ordered.
    passage = TimedDocument::passageIn(lines, 0, 3, 1, 1);
    QCOMPARE(passage.lastLine, 1);
    QCOMPARE(passage.endMs, qint64(7000));
    const TimedUtterances heard { { 1700, 3500, QStringLiteral("天很好"), {} },
        { 3400, 7300, QStringLiteral("我们出门"), { { 3400, 7300, QStringLiteral("出门") } } } };
    const TimedLines replaced
        = TimedDocument::replacePassage(lines, passage, QStringLiteral("天很好我们出门"), heard);
    QCOMPARE(TimedDocument::text(replaced), QStringLiteral("今天天很好我们出门"));
    QCOMPARE(replaced.size(), 1);
    QCOMPARE(replaced[0].utterances.size(), 3);
    QCOMPARE(replaced[0].utterances[1].startMs, qint64(2000));
    QCOMPARE(replaced[0].utterances[2].startMs, qint64(3500));
    QCOMPARE(replaced[0].utterances[2].words.first().startMs, qint64(3500));
    QCOMPARE(replaced[0].endMs(), qint64(7300));
    // A passage followed by more keeps out of its start.
    passage = TimedDocument::passageIn(lines, 0, 0, 0, 1);
    const TimedLines first = TimedDocument::replacePassage(
        lines, passage, QStringLiteral("明天"), { { 700, 2300, QStringLiteral("明天"), {} } });
    QCOMPARE(first[0].text, QStringLiteral("明天天气很好"));
    QCOMPARE(first[0].utterances[0].endMs, qint64(2000));
    QCOMPARE(TimedDocument::utteranceSpans(first[0])[1].start, 2);
}

void TimedDocumentTest::splitSharesTimesByWordsElseByCharacters()
{
    // Cut after "今天": the words on each side keep their own times.
    TimedLines split = TimedDocument::split(twoLines(true), 0, 2);
    QCOMPARE(split.size(), 3);
    QCOMPARE(split[0].text, QStringLiteral("今天"));
    QCOMPARE(split[0].endMs(), qint64(2000));
    QCOMPARE(split[1].startMs(), qint64(2000));
    QCOMPARE(split[1].endMs(), qint64(4000));
    QCOMPARE(split[1].utterances.first().words.size(), 2);
    QCOMPARE(TimedDocument::timeAt(split[1], 2), qint64(3000)); // "很好"
    QCOMPARE(split[2], twoLines(true)[1]);

    // Without word times the cut falls in proportion: 2 of 6 characters of 3000 ms.
    split = TimedDocument::split(twoLines(false), 0, 2);
    QCOMPARE(split[0].endMs(), qint64(2000));
    QCOMPARE(split[1].startMs(), qint64(2000));
    // At either end the line just moves: no empty utterance is made.
    split = TimedDocument::split(twoLines(false), 0, 0);
    QVERIFY(!split[0].timed());
    QCOMPARE(split[1].startMs(), qint64(1000));
}

void TimedDocumentTest::joinAndSetStartKeepTimesConsistent()
{
    const TimedLines joined = TimedDocument::join(twoLines(true), 0);
    QCOMPARE(joined.size(), 1);
    QCOMPARE(joined[0].text, QStringLiteral("今天天气很好我们出去"));
    QCOMPARE(joined[0].startMs(), qint64(1000));
    QCOMPARE(joined[0].endMs(), qint64(7000));
    QCOMPARE(TimedDocument::timeAt(joined[0], 7), qint64(5000));

    // Earlier than the previous line's end: that end comes back, nothing overlaps.
    TimedLines moved = TimedDocument::setStart(twoLines(true), 1, 3500);
    QCOMPARE(moved[1].startMs(), qint64(3500));
    QCOMPARE(moved[0].endMs(), qint64(3500));
    QVERIFY(moved[0].utterances[0].words[2].endMs <= 3500);
    QVERIFY(moved[0].utterances[0].words[2].startMs <= moved[0].utterances[0].words[2].endMs);
    // Before the previous line began, or past the line's own end: held within them.
    moved = TimedDocument::setStart(twoLines(true), 1, 200);
    QCOMPARE(moved[1].startMs(), qint64(1000));
    moved = TimedDocument::setStart(twoLines(true), 1, 9000);
    QCOMPARE(moved[1].startMs(), qint64(7000));
    QCOMPARE(moved[0].endMs(), qint64(4000));
}

void TimedDocumentTest::editsOfTheTextKeepTheirTimes()
{
    const TimedLines old = twoLines(true);
    // Typed within a line.
    TimedLines now = TimedDocument::follow(old, QStringLiteral("今天天气真好\n我们出去"));
    QCOMPARE(now[0].startMs(), qint64(1000));
    QCOMPARE(now[1], old[1]);
    // Enter inside the first line, and Backspace joining it again: outer bounds kept.
    now = TimedDocument::follow(old, QStringLiteral("今天\n天气很好\n我们出去"));
    QCOMPARE(now.size(), 3);
    QCOMPARE(now[1].startMs(), qint64(2000));
    now = TimedDocument::follow(now, QStringLiteral("今天天气很好\n我们出去"));
    QCOMPARE(now[0].startMs(), qint64(1000));
    QCOMPARE(now[0].endMs(), qint64(4000));
    // A pasted line before both: they keep theirs, the new one has none.
    now = TimedDocument::follow(old, QStringLiteral("新的\n今天天气很好\n我们出去"));
    QVERIFY(!now[0].timed());
    QCOMPARE(now.mid(1), old);
    // Lines replaced wholesale keep times only where they read as before.
    now = TimedDocument::follow(old, QStringLiteral("别的\n我们出去\n"));
    QVERIFY(!now[0].timed());
    QCOMPARE(now[1], old[1]);
    // What is saved matches the text again when read back.
    const TimedLines back
        = TimedDocument::fromTimes(TimedDocument::text(now), TimedDocument::toParagraphs(now));
    QCOMPARE(back, now);
}

void TimedDocumentTest::indexFindsTheUtteranceBeingSpoken()
{
    const TimedDocument::Index index(twoLines(false));
    QCOMPARE(index.at(500).line, -1);
    QCOMPARE(index.at(1000).line, 0);
    QCOMPARE(index.at(4000).line, 0);
    QCOMPARE(index.at(4500).line, -1); // between utterances nothing is spoken
    QCOMPARE(index.at(6999).line, 1);
    QCOMPARE(TimedDocument::Index().at(0).line, -1);
}

void TimedDocumentTest::findTreatsWidthFormsAsOne()
{
    const QString text = QStringLiteral("Ｑｔ５，好。qt5,好. iQt5");
    TextFind::Options options;
    QCOMPARE(TextFind::findAll(text, QStringLiteral("qt5,"), options).size(), 2);
    const TextFind::Match first = TextFind::findNext(text, QStringLiteral("ＱＴ５"), 0, options);
    QCOMPARE(first.start, 0);
    QCOMPARE(first.length, 3);
    QCOMPARE(TextFind::findAll(text, QStringLiteral("好."), options).size(), 2);
    QCOMPARE(TextFind::findAll(text, QStringLiteral("qt5"), options).size(), 3);
    options.wholeWords = true;
    QCOMPARE(TextFind::findAll(text, QStringLiteral("qt5"), options).size(), 2); // not in "iQt5"
    QCOMPARE(
        TextFind::findAll(text, QStringLiteral("好"), options).size(), 2); // Chinese has no spaces
    options.caseSensitive = true;
    QCOMPARE(TextFind::findAll(text, QStringLiteral("qt5"), options).size(), 1);
    // From past the last match it wraps to the first.
    QCOMPARE(TextFind::findNext(text, QStringLiteral("好"), 12, {}).start, 4);
    // A character outside the basic plane is one character, not two halves.
    const QString wide = QStringLiteral("𠀋ａ𠀋a");
    QCOMPARE(TextFind::findAll(wide, QStringLiteral("𠀋A"), {}).size(), 2);
    QCOMPARE(TextFind::findAll(wide, QStringLiteral("𠀋A"), {}).last().start, 3);
}

void TimedDocumentTest::recoveryFileIsPrivateAndTellsAChangedTranscript()
{
    QTemporaryDir dir;
    const QString transcript = dir.filePath(QStringLiteral("talk.txt"));
    QFile file(transcript);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("今天天气很好\n");
    file.close();
    const QString folder = dir.filePath(QStringLiteral("data/recovery"));

    Recovery kept;
    kept.transcriptPath = transcript;
    kept.stamp = RecoveryFiles::stampOf(transcript);
    kept.text = QStringLiteral("今天天气真好\n");
    kept.times.source = dir.filePath(QStringLiteral("talk.wav"));
    kept.times.paragraphs = TimedDocument::toParagraphs(twoLines(true));
    QVERIFY(RecoveryFiles::save(folder, kept));
    kept.text += QStringLiteral("更多\n"); // written again: replaced whole
    QVERIFY(RecoveryFiles::save(folder, kept));

    const QString path = RecoveryFiles::pathFor(folder, transcript);
    struct stat info
    {
    };
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0600);
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);

    const QList<Recovery> pending = RecoveryFiles::pending(folder);
    QCOMPARE(pending.size(), 1);
    QCOMPARE(pending[0].text, kept.text);
    QCOMPARE(pending[0].times.paragraphs.size(), 2);
    QCOMPARE(pending[0].times.paragraphs[0].utterances, kept.times.paragraphs[0].utterances);
    QVERIFY(!RecoveryFiles::changedSince(pending[0]));

    // Same size, other bytes: the hash tells it.
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("今天天气不好\n");
    file.close();
    QVERIFY(RecoveryFiles::changedSince(pending[0]));

    Recovery junk;
    QVERIFY(!RecoveryFiles::parse("{\"version\":1}", &junk));
    QVERIFY(!RecoveryFiles::parse(RecoveryFiles::serialize(kept).left(40), &junk));
    // A hash that is no hash (here with NULs that writing it again would cut off) is refused.
    QVERIFY(kept.stamp.sha256.size() == 64);
    QByteArray badHash = RecoveryFiles::serialize(kept);
    badHash.replace(kept.stamp.sha256, QByteArray("ab\0\0cd", 6));
    QVERIFY(!RecoveryFiles::parse(badHash, &junk));

    QVERIFY(RecoveryFiles::remove(folder, transcript));
    QVERIFY(!QFile::exists(path));
    QVERIFY(RecoveryFiles::pending(folder).isEmpty());
}

QTEST_GUILESS_MAIN(TimedDocumentTest)
#include "tst_timeddocument.moc"
