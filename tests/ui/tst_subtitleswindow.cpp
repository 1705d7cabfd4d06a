// The window's subtitles: times kept beside a transcript, and "导出字幕" from the library.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "common/scripteddialogs.h"
#include "core/transcripttimes.h"
#include "ui/appglobals.h"
#include "ui/mylistwidget.h"
#include "ui/widget.h"

class TestSubtitlesWindow : public QObject
{
    Q_OBJECT

private slots:
    void editedLinesLoseTheirTimesOnExport();
};

void TestSubtitlesWindow::editedLinesLoseTheirTimesOnExport()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    AppGlobals::appDir = dir.path();
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
        if (list->listKind == QLatin1String("word"))
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

QTEST_MAIN(TestSubtitlesWindow)
#include "tst_subtitleswindow.moc"
