// The transcript pane as a timed document, through the real window and player: seeking from
// the text and the transcription keys, the text following playback, edits and find and replace
// keeping their times, and unsaved edits restored after the window went away without saving.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include "common/scripteddialogs.h"
#include "common/testfiles.h"
#include "common/windowview.h"
#include "core/recoveryfile.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/findreplacedialog.h"
#include "ui/mylistwidget.h"
#include "ui/transcripteditor.h"
#include "ui/widget.h"

namespace {

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A library with talk.txt: three lines said at 1 s, 21 s and 41 s of a minute of sound, each
// for 1.5 s, the last with word times.
struct Library
{
    QTemporaryDir dir;
    QString source;
    QString talk;

    bool make()
    {
        AppGlobals::setAppDir(dir.path());
        const QString words = dir.filePath(QStringLiteral("myWordFiles"));
        if (!QDir().mkpath(words) || !QDir().mkpath(dir.filePath(QStringLiteral("myWAVFiles"))))
            return false;
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        source = dir.filePath(QStringLiteral("talk.wav"));
        if (!TestFiles::make(source,
                TestFiles::words("-f|lavfi|-i|sine=frequency=300:duration=60|-ar|16000|-ac|1")))
            return false;
        talk = words + QStringLiteral("/talk.txt");
        TranscriptTimes times;
        times.source = source;
        const QStringList lines = TestFiles::words("first part|second part|third part");
        for (int i = 0; i < lines.size(); ++i) {
            const qint64 start = 1000 + 20000 * i;
            times.paragraphs.append({ lines[i], { { start, start + 1500, lines[i], {} } } });
        }
        times.paragraphs[2].utterances[0].words = { { 41000, 41500, QStringLiteral("third") },
            { 41600, 42500, QStringLiteral("part") } };
        return writeText(talk, "first part\n\nsecond part\n\nthird part\n")
            && TranscriptTimesRules::save(talk, times);
    }
};

void openTalk(Widget &window)
{
    MyListWidget *library = View::list(window, "txtList");
    emit library->itemDoubleClicked(
        library->findItems(QStringLiteral("talk.txt"), Qt::MatchExactly).first());
}

void putCursor(QTextEdit *pane, int block, int column)
{
    QTextCursor cursor(pane->document()->findBlockByNumber(block));
    cursor.setPosition(cursor.block().position() + column);
    pane->setTextCursor(cursor);
}

int highlightedLine(QTextEdit *pane)
{
    const QList<QTextEdit::ExtraSelection> shown = pane->extraSelections();
    return shown.isEmpty() ? -1 : shown.first().cursor.blockNumber();
}

} // namespace

class TestTranscriptEditor : public QObject
{
    Q_OBJECT

private slots:
    void keysSeekAndTheTextFollowsPlayback();
    void editsAndReplacementsKeepTheirTimes();
    void unsavedEditsAreRestoredAfterTheWindowWentAway();
};

void TestTranscriptEditor::keysSeekAndTheTextFollowsPlayback()
{
    Library library;
    QVERIFY(library.make());
    ScriptedDialogs dialogs;
    Widget window;
    window.resize(1200, 800);
    window.show();
    openTalk(window);
    QTextEdit *pane = View::textPane(window);
    Phonon::MediaObject *player = View::player(window);
    QLabel *position = View::label(window, "playTimeLabel");

    // Ctrl+J on "part" of the line said at 41 s: its word's start, 41.6 s.
    putCursor(pane, 4, 7);
    QTest::keyClick(pane, Qt::Key_J, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(
        player->state() == Phonon::PlayingState && player->currentTime() >= 41600, 20000);
    QVERIFY2(player->currentTime() < 60000, qPrintable(QString::number(player->currentTime())));
    QTRY_VERIFY_WITH_TIMEOUT(position->text().startsWith(QStringLiteral("00:00:4")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(highlightedLine(pane), 4, 10000);
    // The highlight never moved the user's cursor.
    QCOMPARE(pane->textCursor().blockNumber(), 4);
    QCOMPARE(pane->textCursor().positionInBlock(), 7);

    // F3 back 5 s: before the line, nothing is being said.
    QTest::keyClick(pane, Qt::Key_F3);
    QTRY_VERIFY_WITH_TIMEOUT(player->currentTime() < 40000, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(player->currentTime() >= 35000, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(highlightedLine(pane), -1, 10000);
    // F4 forward 5 s and playback reaches the line again.
    QTest::keyClick(pane, Qt::Key_F4);
    QTRY_VERIFY_WITH_TIMEOUT(player->currentTime() >= 41000, 10000);
    // Esc pauses, and Esc plays on.
    QTest::keyClick(pane, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(player->state(), Phonon::PausedState, 10000);
    QTest::keyClick(pane, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(player->state(), Phonon::PlayingState, 10000);

    // Ctrl+click on the line said at 21 s.
    putCursor(pane, 0, 0);
    const QTextCursor second(pane->document()->findBlockByNumber(2));
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, Qt::ControlModifier,
        pane->cursorRect(second).center() + QPoint(2, 0));
    QTRY_VERIFY_WITH_TIMEOUT(
        player->currentTime() >= 21000 && player->currentTime() < 40000, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(highlightedLine(pane), 2, 10000);

    // The context menu lists the keys.
    emit pane->customContextMenuRequested(pane->cursorRect().center());
    QVERIFY(!dialogs.menus.isEmpty());
    QAction *back = dialogs.menus.last()->findChild<QAction *>(QStringLiteral("backAction"));
    QVERIFY(back);
    QCOMPARE(back->shortcut(), QKeySequence(Qt::Key_F3));
    player->stop();
    QVERIFY(dialogs.notices.isEmpty());
}

void TestTranscriptEditor::editsAndReplacementsKeepTheirTimes()
{
    Library library;
    QVERIFY(library.make());
    ScriptedDialogs dialogs;
    Widget window;
    window.resize(1200, 800);
    window.show();
    openTalk(window);
    QTextEdit *pane = View::textPane(window);
    auto *editor = window.findChild<TranscriptEditor *>();
    QVERIFY(editor);

    // Enter between the words of the last line: the word times share it.
    putCursor(pane, 4, 5);
    QTest::keyClick(pane, Qt::Key_Return);
    QCOMPARE(editor->lines().size(), 7);
    QCOMPARE(editor->lines()[4].endMs(), qint64(41500));
    QCOMPARE(editor->lines()[5].startMs(), qint64(41600));
    // Typed into the first line: it keeps its times.
    putCursor(pane, 0, 5);
    QTest::keyClicks(pane, QStringLiteral("ish"));
    QCOMPARE(editor->lines()[0].startMs(), qint64(1000));

    // Replace all with full-width forms: one undo step brings every one back.
    FindReplaceDialog *finder = editor->finder();
    QTest::keyClick(pane, Qt::Key_H, Qt::ControlModifier);
    QTRY_VERIFY(finder->isVisible());
    finder->findChild<QLineEdit *>(QStringLiteral("findField"))
        ->setText(QStringLiteral("ＰＡＲＴ"));
    finder->findChild<QLineEdit *>(QStringLiteral("replaceField"))->setText(QStringLiteral("段"));
    QTest::keyClick(finder->findChild<QLineEdit *>(QStringLiteral("findField")), Qt::Key_Return,
        Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(finder->findChild<QLabel *>(QStringLiteral("findStatus"))->text(),
        QStringLiteral("已替换3处"));
    QCOMPARE(pane->toPlainText(), QStringLiteral("firstish 段\n\nsecond 段\n\nthird\n 段\n"));
    // Every line edited within keeps its times.
    QCOMPARE(editor->lines()[2].startMs(), qint64(21000));
    pane->undo();
    QCOMPARE(pane->toPlainText(), QStringLiteral("firstish part\n\nsecond part\n\nthird\n part\n"));

    // The saved times match the saved text; the split joined again keeps the outer bounds.
    putCursor(pane, 5, 0);
    QTest::keyClick(pane, Qt::Key_Backspace);
    QCOMPARE(editor->lines()[4].startMs(), qint64(41000));
    QCOMPARE(editor->lines()[4].endMs(), qint64(42500));
    emit View::button(window, "closeDocButton")->clicked();
    QVERIFY(dialogs.notices.isEmpty());
    TranscriptTimes saved;
    QVERIFY(TranscriptTimesRules::load(library.talk, &saved));
    const QString text = readText(library.talk);
    QCOMPARE(text, QStringLiteral("firstish part\n\nsecond part\n\nthird part\n"));
    const QVector<qint64> starts = TranscriptTimesRules::lineStarts(text, saved.paragraphs);
    QCOMPARE(starts.mid(0, 5), (QVector<qint64> { 1000, -1, 21000, -1, 41000 }));
    QVERIFY(!QFile::exists(RecoveryFiles::pathFor(editor->folder(), library.talk)));
}

void TestTranscriptEditor::unsavedEditsAreRestoredAfterTheWindowWentAway()
{
    Library library;
    QVERIFY(library.make());
    QString recovery;
    {
        ScriptedDialogs dialogs;
        Widget window;
        window.show();
        openTalk(window);
        QTextEdit *pane = View::textPane(window);
        putCursor(pane, 2, 0);
        QTest::keyClicks(pane, QStringLiteral("the "));
        auto *editor = window.findChild<TranscriptEditor *>();
        recovery = RecoveryFiles::pathFor(editor->folder(), library.talk);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recovery), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            readText(recovery).contains(QStringLiteral("the second part")), 20000);
        // Gone without "关闭文档", as a killed program would be: nothing saved the text.
    }
    QCOMPARE(readText(library.talk), QStringLiteral("first part\n\nsecond part\n\nthird part\n"));

    // The next start asks, and Yes restores the edits into the pane, unsaved.
    ScriptedDialogs dialogs;
    dialogs.answers.enqueue(true);
    Widget window;
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.questions.size(), 1, 10000);
    QVERIFY(dialogs.questions[0].text.contains(QStringLiteral("talk.txt")));
    QTextEdit *pane = View::textPane(window);
    QTRY_COMPARE_WITH_TIMEOUT(pane->toPlainText(),
        QStringLiteral("first part\n\nthe second part\n\nthird part\n"), 10000);
    QCOMPARE(window.openTranscript(), library.talk);
    QCOMPARE(dialogs.questions.size(), 1);
    // Undo gives back the transcript as it was saved; the restored lines kept their times.
    auto *editor = window.findChild<TranscriptEditor *>();
    QCOMPARE(editor->lines()[0].startMs(), qint64(1000));
    QVERIFY(QFile::exists(recovery));
    emit View::button(window, "closeDocButton")->clicked();
    QCOMPARE(
        readText(library.talk), QStringLiteral("first part\n\nthe second part\n\nthird part\n"));
    QVERIFY(!QFile::exists(recovery));

    // A recovery file whose transcript changed since is only offered: No leaves the file alone.
    QVERIFY(RecoveryFiles::save(editor->folder(),
        Recovery { library.talk, RecoveryFiles::stampOf(library.talk),
            QStringLiteral("old edits\n"), {} }));
    QVERIFY(writeText(library.talk, "changed elsewhere\n"));
    dialogs.answers.enqueue(false);
    openTalk(window);
    QCOMPARE(dialogs.questions.size(), 2);
    QVERIFY(dialogs.questions[1].text.contains(QStringLiteral("此后该文件已被改动")));
    QCOMPARE(pane->toPlainText(), QStringLiteral("changed elsewhere\n"));
    QVERIFY(!QFile::exists(recovery));
}

QTEST_MAIN(TestTranscriptEditor)
#include "tst_transcripteditor.moc"
