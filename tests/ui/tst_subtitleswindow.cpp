// The window's subtitles: times kept beside a transcript, following it through the library,
// "导出字幕" from the library, and "从此处播放" through the real player.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include "common/scripteddialogs.h"
#include "common/testfiles.h"
#include "common/windowview.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/myinput.h"
#include "ui/mylistwidget.h"
#include "ui/transcriptpane.h"
#include "ui/widget.h"

using TestFiles::str;

namespace {

// The library's folders in a new application folder; the transcripts' folder.
QString makeLibrary(const QTemporaryDir &dir)
{
    AppGlobals::setAppDir(dir.path());
    const QString words = dir.filePath(QStringLiteral("myWordFiles"));
    if (!QDir().mkpath(words) || !QDir().mkpath(dir.filePath(QStringLiteral("myWAVFiles"))))
        return QString();
    return words;
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

TranscriptTimes timesOf(const QString &source, const QStringList &lines, qint64 firstMs)
{
    TranscriptTimes times;
    times.source = source;
    for (int i = 0; i < lines.size(); ++i) {
        const qint64 start = firstMs + 20000 * i;
        times.paragraphs.append({ lines[i], { { start, start + 1500, lines[i], {} } } });
    }
    return times;
}

void renameTo(Widget &window, ScriptedDialogs &dialogs, const QString &name, const QString &typed,
    const QString &kind = QStringLiteral("word"))
{
    dialogs.onDialog = [typed](QDialog *dialog) {
        auto *input = qobject_cast<MyInput *>(dialog);
        QVERIFY(input);
        input->nameEdit->setText(typed);
        input->slotOK();
    };
    window.renameFile(kind, name);
}

} // namespace

class TestSubtitlesWindow : public QObject
{
    Q_OBJECT

private slots:
    void editedLinesLoseTheirTimesOnExport();
    void timesFollowTheirTranscript();
    void openedTranscriptPlaysFromALine();
    void timesBeyondAnyRecordingAreRefused();
};

void TestSubtitlesWindow::editedLinesLoseTheirTimesOnExport()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    AppGlobals::setAppDir(dir.path());
    const QString words = dir.filePath(QStringLiteral("myWordFiles"));
    QVERIFY(QDir().mkpath(words) && QDir().mkpath(dir.filePath(QStringLiteral("myWAVFiles"))));
    const QString transcript = words + QStringLiteral("/talk.txt");
    QFile file(transcript);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // the second paragraph was edited by the user after the job wrote it
    file.write("hello world\n\nthe second part, edited\n\nthird part\n");
    file.close();
    TranscriptTimes times;
    times.source = dir.filePath(QStringLiteral("talk.wav"));
    times.paragraphs = {
        { QStringLiteral("hello world"), { { 1000, 2500, QStringLiteral("hello world"), {} } } },
        { QStringLiteral("the second part"),
            { { 59500, 61000, QStringLiteral("the second part"), {} } } },
        { QStringLiteral("third part"), { { 120000, 121000, QStringLiteral("third part"), {} } } }
    };
    QVERIFY(TranscriptTimesRules::save(transcript, times));

    ScriptedDialogs dialogs;
    Dialogs::install(&dialogs);
    Widget window;
    MyListWidget *library = nullptr;
    for (MyListWidget *list : window.findChildren<MyListWidget *>())
        if (list->kind() == MyListWidget::Kind::Transcripts)
            library = list;
    QVERIFY(library);
    QCOMPARE(library->count(), 1); // the hidden times are not a second transcript
    QVERIFY(library->findChild<QAction *>(QStringLiteral("exportSubtitlesAction")));

    const QString target = dir.filePath(QStringLiteral("talk.srt"));
    dialogs.saveResults.enqueue(target);
    window.exportTranscriptSubtitles(QStringLiteral("talk.txt"));
    QFile srt(target);
    QVERIFY(srt.open(QIODevice::ReadOnly));
    QCOMPARE(srt.readAll(),
        QByteArray("1\n00:00:01,000 --> 00:00:02,500\nhello world\n\n"
                   "2\n00:02:00,000 --> 00:02:01,000\nthird part\n\n"));
    QVERIFY2(dialogs.noticeTexts().join(QLatin1Char('|')).contains(QStringLiteral("1行")),
        qPrintable(dialogs.noticeTexts().join(QLatin1Char('|'))));
    // the line a "从此处播放" plays from: only lines that still read as recognised have a time
    QCOMPARE(
        TranscriptTimesRules::lineStarts(
            QStringLiteral("hello world\n\nthe second part, edited\nthird part"), times.paragraphs),
        (QVector<qint64> { 1000, -1, -1, 120000 }));
    Dialogs::install(nullptr);
}

void TestSubtitlesWindow::timesFollowTheirTranscript()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString words = makeLibrary(dir);
    QVERIFY(!words.isEmpty());
    const auto path
        = [&](const char *name) -> QString { return words + QLatin1Char('/') + str(name); };
    const auto sidecar = [&](const char *name) -> QString {
        return TranscriptTimesRules::sidecarPath(path(name));
    };
    QVERIFY(writeText(path("a.txt"), "said in a\n") && writeText(path("b.txt"), "said in b\n")
        && writeText(path("untimed.txt"), "typed\n"));
    QVERIFY(TranscriptTimesRules::save(
        path("a.txt"), timesOf(str("a.wav"), { str("said in a") }, 1000)));
    const QString audio = dir.filePath(QStringLiteral("myWAVFiles/b.wav"));
    QVERIFY(writeText(audio, "RIFF"));
    QVERIFY(TranscriptTimesRules::save(path("b.txt"), timesOf(audio, { str("said in b") }, 2000)));
    const QByteArray aTimes = TestFiles::readAll(sidecar("a.txt"));
    const QByteArray bTimes = TestFiles::readAll(sidecar("b.txt"));
    // Left over from transcripts deleted before their times followed them.
    QVERIFY(writeText(sidecar("c.txt"), "stale") && writeText(sidecar("d.txt"), "stale"));

    ScriptedDialogs dialogs;
    Widget window;
    // A clash is refused before anything moves: b keeps its own times.
    renameTo(window, dialogs, str("a.txt"), str("b"));
    QCOMPARE(dialogs.noticeTexts(), QStringList { QStringLiteral("重命名失败，文件正在被使用！") });
    QCOMPARE(TestFiles::readAll(sidecar("b.txt")), bTimes);
    QCOMPARE(TestFiles::readAll(sidecar("a.txt")), aTimes);

    renameTo(window, dialogs, str("a.txt"), str("c"));
    QCOMPARE(TestFiles::readAll(sidecar("c.txt")), aTimes);
    QVERIFY(!QFile::exists(sidecar("a.txt")));
    // A transcript without times does not take over stale ones under its new name.
    renameTo(window, dialogs, str("untimed.txt"), str("d"));
    QVERIFY(QFile::exists(path("d.txt")) && !QFile::exists(sidecar("d.txt")));

    dialogs.answers.enqueue(true);
    window.delFile(str("word"), str("c.txt"));
    QVERIFY(!QFile::exists(path("c.txt")) && !QFile::exists(sidecar("c.txt")));
    QCOMPARE(View::itemTexts(View::list(window, "txtList")), TestFiles::words("b.txt|d.txt"));
    QCOMPARE(QDir(words).entryList(QDir::Files | QDir::Hidden),
        TestFiles::words(".b.txt.times.json|b.txt|d.txt"));

    // Renaming the audio keeps its transcripts playable: their times name it anew.
    renameTo(window, dialogs, str("b.wav"), str("meeting"), str("wav"));
    TranscriptTimes moved;
    QVERIFY(TranscriptTimesRules::load(path("b.txt"), &moved));
    QCOMPARE(moved.source, dir.filePath(QStringLiteral("myWAVFiles/meeting.wav")));
}

void TestSubtitlesWindow::openedTranscriptPlaysFromALine()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString words = makeLibrary(dir);
    QVERIFY(!words.isEmpty());
    // A minute of sound: the player can only be past 40 s soon after it starts by a seek.
    const QString source = dir.filePath(QStringLiteral("talk.wav"));
    QVERIFY(TestFiles::make(
        source, TestFiles::words("-f|lavfi|-i|sine=frequency=300:duration=60|-ar|16000|-ac|1")));
    const QString talk = words + QStringLiteral("/talk.txt");
    QVERIFY(writeText(talk, "first part\n\nsecond part, edited\n\nthird part\n"));
    QVERIFY(TranscriptTimesRules::save(
        talk, timesOf(source, TestFiles::words("first part|second part|third part"), 1000)));
    QVERIFY(writeText(words + QStringLiteral("/typed.txt"), "first part\n"));

    ScriptedDialogs dialogs;
    Widget window;
    window.resize(1200, 800);
    window.show();
    MyListWidget *library = View::list(window, "txtList");
    QTextEdit *pane = View::textPane(window);
    Phonon::MediaObject *player = View::player(window);
    const auto playFromLine = [&](int block) {
        const QTextCursor cursor(pane->document()->findBlockByNumber(block));
        emit pane->customContextMenuRequested(pane->cursorRect(cursor).center());
        QVERIFY(!dialogs.menus.isEmpty());
        auto *play
            = dialogs.menus.takeLast()->findChild<QAction *>(QStringLiteral("playFromLineAction"));
        QVERIFY(play);
        play->trigger();
    };

    // Another transcript without times first: the pane has none to lend the next one.
    emit library->itemDoubleClicked(
        library->findItems(QStringLiteral("typed.txt"), Qt::MatchExactly).first());
    playFromLine(0);
    QCOMPARE(dialogs.noticeTexts(), QStringList { QStringLiteral("这一行没有时间信息！") });

    emit library->itemDoubleClicked(
        library->findItems(QStringLiteral("talk.txt"), Qt::MatchExactly).first());
    QCOMPARE(window.openTranscript(), talk);
    playFromLine(2); // edited since it was recognised: no time
    QCOMPARE(dialogs.notices.size(), 2);
    QCOMPARE(dialogs.notices.last().text, QStringLiteral("这一行没有时间信息！"));
    QCOMPARE(player->state() == Phonon::PlayingState, false);

    // Opened at a line (as a search result opens it), the cursor stands there; a vanished
    // transcript takes neither the text nor the binding.
    TranscriptPane *transcripts = window.transcriptPane();
    QSignalSpy bound(transcripts, &TranscriptPane::transcriptChanged);
    QVERIFY(transcripts->open(words + QStringLiteral("/typed.txt")));
    QVERIFY(transcripts->open(talk, 4) && !transcripts->open(words + QStringLiteral("/gone.txt")));
    QCOMPARE(pane->textCursor().blockNumber(), 4);
    QCOMPARE(bound.count(), 2);
    QCOMPARE(window.openTranscript(), talk);

    playFromLine(4); // "third part", said at 41 s
    QCOMPARE(window.playbackFile(), source);
    QTRY_VERIFY_WITH_TIMEOUT(
        player->state() == Phonon::PlayingState && player->currentTime() >= 41000, 20000);
    QVERIFY2(player->currentTime() < 60000, qPrintable(QString::number(player->currentTime())));
    QCOMPARE(dialogs.notices.size(), 2);
    player->stop();
}

QTEST_MAIN(TestSubtitlesWindow)
// A time no number of milliseconds can hold makes the file no sidecar (it once made an
// undefined conversion); the largest exact one still reads back.
void TestSubtitlesWindow::timesBeyondAnyRecordingAreRefused()
{
    const auto sidecar = [](const char *start, const char *end) -> QByteArray {
        return QByteArray(
                   R"({"version":1,"source":"a.wav","paragraphs":[{"text":"x","utterances":[)"
                   R"({"start_ms":)")
            + start + R"(,"end_ms":)" + end + R"(,"text":"x","words":[]}]}]})";
    };
    TranscriptTimes times;
    QVERIFY(!TranscriptTimesRules::parse(sidecar("1e300", "1e300"), &times));
    QVERIFY(!TranscriptTimesRules::parse(sidecar("0", "1e18"), &times));
    QVERIFY(TranscriptTimesRules::parse(sidecar("0", "9007199254740992"), &times));
    QCOMPARE(times.paragraphs.value(0).utterances.value(0).endMs, Q_INT64_C(9007199254740992));
}

#include "tst_subtitleswindow.moc"
