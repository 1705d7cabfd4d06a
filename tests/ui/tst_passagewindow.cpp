// "重新识别所选内容" through the real window and the real local speech service: a misheard line
// of a transcript with times is recognised again from its stretch of the source and replaced,
// text and times, as one undo step; a failure and a missing source leave the text as it was.
#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include "common/paddedspeech.h"
#include "common/scripteddialogs.h"
#include "common/speechservice.h"
#include "common/testtime.h"
#include "common/windowview.h"
#include "common/wordrate.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/mylistwidget.h"
#include "ui/passagerecogniser.h"
#include "ui/transcripteditor.h"
#include "ui/widget.h"

namespace {

const QStringList Said { QStringLiteral("the cat sat on the mat"),
    QStringLiteral("open the window please"), QStringLiteral("the train leaves at noon") };
// What the transcript says was heard: the middle line misheard.
const QStringList Heard { Said[0], QStringLiteral("a pen the wind oh peas"), Said[2] };
const int Spacing = 6; // seconds from one sentence's start to the next

// Opens the context menu with the pane's selection and triggers "重新识别所选内容".
void recogniseSelected(ScriptedDialogs &dialogs, QTextEdit *pane)
{
    emit pane->customContextMenuRequested(pane->cursorRect().center());
    QAction *again
        = dialogs.menus.last()->findChild<QAction *>(QStringLiteral("recogniseAgainAction"));
    QVERIFY(again && again->isEnabled());
    again->trigger();
}

void selectLine(QTextEdit *pane, int block)
{
    const QTextBlock line = pane->document()->findBlockByNumber(block);
    QTextCursor cursor(line);
    cursor.setPosition(line.position() + line.length() - 1, QTextCursor::KeepAnchor);
    pane->setTextCursor(cursor);
}

} // namespace

class TestPassageWindow : public QObject
{
    Q_OBJECT

private slots:
    void misheardLineIsRecognisedAgain();
};

void TestPassageWindow::misheardLineIsRecognisedAgain()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    AppGlobals::setAppDir(dir.path());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    const QString words = dir.filePath(QStringLiteral("myWordFiles"));
    QVERIFY(QDir().mkpath(words) && QDir().mkpath(dir.filePath(QStringLiteral("myWAVFiles"))));
    const QString source = dir.filePath(QStringLiteral("talk.wav"));
    QVERIFY(makePaddedSpeech(source, Said, Spacing));
    const QString talk = words + QStringLiteral("/talk.txt");
    TranscriptTimes times { source, {} };
    for (int k = 0; k < Heard.size(); ++k)
        times.paragraphs.append(
            { Heard[k], { { Spacing * 1000 * k, Spacing * 1000 * k + 3000, Heard[k], {} } } });
    QFile file(talk);
    QVERIFY(file.open(QIODevice::WriteOnly)
        && file.write(Heard.join(QStringLiteral("\n\n")).toUtf8() + "\n") > 0);
    file.close();
    QVERIFY(TranscriptTimesRules::save(talk, times));

    SpeechServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.logText()));
    ScriptedDialogs dialogs;
    Widget window;
    window.setServiceBaseUrl(service.baseUrl());
    View::combo(window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
    MyListWidget *library = View::list(window, "txtList");
    emit library->itemDoubleClicked(
        library->findItems(QStringLiteral("talk.txt"), Qt::MatchExactly).first());
    QTextEdit *pane = View::textPane(window);
    auto *editor = window.findChild<TranscriptEditor *>();
    QVERIFY(editor);
    const QString before = pane->toPlainText();
    const TimedLines linesBefore = editor->lines();

    // The middle line heard again: said again as it was, with its time in the source.
    selectLine(pane, 2);
    recogniseSelected(dialogs, pane);
    QVERIFY(pane->isReadOnly());
    QTRY_VERIFY_WITH_TIMEOUT(!window.passageRecogniser()->isRunning(), scaledMs(120000));
    QVERIFY2(dialogs.notices.isEmpty(), qPrintable(dialogs.noticeTexts().join(QLatin1Char('|'))));
    QVERIFY(!pane->isReadOnly());
    const QString again = pane->document()->findBlockByNumber(2).text();
    qInfo("heard again: %s", qPrintable(again));
    QVERIFY2(WordRate::errorRate(Said[1], again) <= 0.5, qPrintable(again));
    const TimedLine &line = editor->lines()[2];
    QCOMPARE(line.text, again);
    QVERIFY2(line.startMs() >= Spacing * 1000 && line.startMs() < Spacing * 1000 + 1500,
        qPrintable(QString::number(line.startMs())));
    QVERIFY(line.endMs() > line.startMs() && line.endMs() <= 2 * Spacing * 1000);
    QCOMPARE(editor->lines()[0], linesBefore[0]);
    QCOMPARE(editor->lines()[4], linesBefore[4]);
    // No transcript of the passage, in the library or anywhere in its folders.
    QCOMPARE(window.transcriptPaths(), QStringList { talk });
    QCOMPARE(QDir(words).entryList(QDir::Files), QStringList { QStringLiteral("talk.txt") });
    // One undo step gives the misheard text and its times back.
    pane->undo();
    QCOMPARE(pane->toPlainText(), before);
    QCOMPARE(editor->lines(), linesBefore);

    // The service gone: a notice, and the text as it was.
    service.stop();
    selectLine(pane, 2);
    recogniseSelected(dialogs, pane);
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs.notices.isEmpty(), scaledMs(60000));
    QVERIFY2(dialogs.notices.last().text.startsWith(QStringLiteral("重新识别失败")),
        qPrintable(dialogs.notices.last().text));
    QCOMPARE(pane->toPlainText(), before);
    QCOMPARE(editor->lines(), linesBefore);
    QVERIFY(!pane->isReadOnly());

    // The source gone: the notice names it.
    QVERIFY(QFile::remove(source));
    recogniseSelected(dialogs, pane);
    QCOMPARE(dialogs.notices.size(), 2);
    QVERIFY2(dialogs.notices.last().text.contains(source), qPrintable(dialogs.notices.last().text));
    QCOMPARE(pane->toPlainText(), before);
}

QTEST_MAIN(TestPassageWindow)
#include "tst_passagewindow.moc"
