// The whole chain as a user meets it: real window (offscreen), real ffmpeg, the real local
// speech service with its recogniser, on English speech made by flite.
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include "ui/appglobals.h"
#include "asr/qthttpclass.h"
#include "common/scripteddialogs.h"
#include "common/speechservice.h"
#include "common/wordrate.h"
#include "common/windowview.h"
#include "ui/widget.h"

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void transcribesSpokenEnglishAcrossSegments();
};

static QString readLocale(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QTextCodec::codecForLocale()->toUnicode(file.readAll());
}

void EndToEndTest::transcribesSpokenEnglishAcrossSegments()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    AppGlobals::setAppDir(home.path());

    const QString textFile = QStringLiteral(TOV_SOURCE_DIR "/tests/common/speechtext.txt");
    const QString wav = home.filePath(QStringLiteral("speech.wav"));
    QVERIFY(makeSpeechWav(textFile, wav));
    // The user's file is an mp3 with a blank in its name, somewhere outside the library.
    const QString source = home.filePath(QStringLiteral("Meeting notes.mp3"));
    QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                                wav, QStringLiteral("-b:a"), QStringLiteral("64k"), source}),
             0);
    const QByteArray sourceBytes = [&] {
        QFile f(source);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QVERIFY(!sourceBytes.isEmpty());

    SpeechServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.logText()));

    ScriptedDialogs dialogs;
    Widget window;
    window.setServiceBaseUrl(service.baseUrl());
    View::combo(window, "languageCombo")->setCurrentText(QStringLiteral("英文"));
    dialogs.openResults.enqueue({source});
    View::button(window, "uploadButton")->click();
    QCOMPARE(View::taskQueue(window), QStringList{source});

    QStringList progress;
    QObject::connect(View::http(window), &QtHttpClass::sigReplyFinish, &window, [&](int id, const QByteArray &) {
        if (id == 2)
            progress << View::button(window, "startConvertButton")->text();
    });

    View::button(window, "startConvertButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs.notices.isEmpty(), 300000);
    QCOMPARE(dialogs.noticeTexts(), QStringList{QStringLiteral("文件已经全部转换完成！")});

    // About two minutes of speech: three or more segments, each its own request.
    QVERIFY2(progress.size() >= 3, qPrintable(progress.join(QLatin1Char(' '))));

    const QString transcriptPath = home.filePath(QStringLiteral("myWordFiles/Meeting notes.txt"));
    QVERIFY(QFile::exists(transcriptPath));
    QVERIFY(window.transcriptPaths().contains(transcriptPath));

    QFile spoken(textFile);
    QVERIFY(spoken.open(QIODevice::ReadOnly));
    const QString reference = QString::fromUtf8(spoken.readAll());
    const QString transcript = readLocale(transcriptPath);
    const double wer = WordRate::errorRate(reference, transcript);
    qInfo("word error rate through the whole chain: %.1f%%", wer * 100.0);
    QVERIFY2(wer <= 0.15, qPrintable(transcript));

    // The user's file is untouched, the intermediate file is gone, and the window is Idle.
    QFile after(source);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), sourceBytes);
    QVERIFY(!QFile::exists(home.filePath(QStringLiteral("Meeting notes_16k.wav"))));
    QVERIFY(View::taskQueue(window).isEmpty());
    QCOMPARE(View::button(window, "startConvertButton")->text(), QStringLiteral("开始转换"));
    QVERIFY(View::button(window, "startConvertButton")->isEnabled());
    QVERIFY(!View::button(window, "stopConvertButton")->isEnabled());
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
