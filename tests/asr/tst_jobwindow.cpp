// What the window makes of the job: buttons, task box, text pane and notices follow the job's
// signals, and closing or destroying the window while a job has a process, a request or a timer
// under way ends everything cleanly.
// The job's own steps are tested without a window in tst_transcriptionjob.
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include "asr/backoff.h"
#include "asr/transcriptionjob.h"
#include "common/noticeservice.h"
#include "common/scripteddialogs.h"
#include "common/scriptedhttppeer.h"
#include "common/testfiles.h"
#include "common/windowview.h"
#include "ui/appglobals.h"
#include "ui/widget.h"

using namespace TestFiles;
using Reply = ScriptedHttpPeer::Reply;
using Step = TranscriptionJob::Step;

namespace {
const QByteArray TokenPath = "/oauth/2.0/token";
const QByteArray SpeechPath = "/server_api";
const QString MarkupLike = QStringLiteral("a < b and c > d &amp; e");

Reply textReply(const QString &text)
{
    return Reply::json(R"({"err_no":0,"result":[")" + text.toUtf8() + "\"]}");
}

bool processGone(qint64 pid)
{
    return pid <= 0 || !QFile::exists(QStringLiteral("/proc/%1/cmdline").arg(pid));
}
} // namespace

class TestJobWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir media;
    QString clip;
    std::unique_ptr<QTemporaryDir> app;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<ScriptedHttpPeer> peer;
    QPointer<Widget> w;

    void newWindow()
    {
        app = std::make_unique<QTemporaryDir>();
        QVERIFY(app->isValid());
        AppGlobals::setAppDir(app->path());
        w = new Widget;
        w->setServiceBaseUrl(peer->baseUrl());
        w->setSegmentSeconds(5);
        dialogs->openResults.enqueue({ clip });
        View::button(*w, "uploadButton")->click();
    }

private slots:
    void initTestCase()
    {
        clip = media.filePath(str("talk.mp3"));
        // Two segments of the 5 s the windows below cut.
        QVERIFY(make(clip, words("-f|lavfi|-i|sine=duration=8")));
    }

    void init()
    {
        dialogs = std::make_unique<ScriptedDialogs>();
        peer = std::make_unique<ScriptedHttpPeer>();
        QVERIFY(peer->start());
        peer->setFallback(TokenPath, Reply::json(R"({"access_token":"t"})"));
    }

    void cleanup()
    {
        delete w;
        peer.reset();
        dialogs.reset();
        app.reset();
    }

    void showsTheJob()
    {
        newWindow();
        peer->setFallback(SpeechPath, textReply(MarkupLike));
        const QImage clearIdle = View::button(*w, "clearListButton")->grab().toImage();
        const QImage addIdle = View::button(*w, "addTaskButton")->grab().toImage();
        QStringList boxAtRequest;
        connect(peer.get(), &ScriptedHttpPeer::requestReceived, this, [&] {
            boxAtRequest << View::combo(*w, "taskFileCombo")->itemText(0)
                         << View::button(*w, "startConvertButton")->text();
        });

        // The button's first text once the job took its first step.
        QString firstShown;
        connect(w->transcriptionJob(), &TranscriptionJob::progressed, this, [&] {
            if (firstShown.isEmpty())
                firstShown = View::button(*w, "startConvertButton")->text();
        });
        QTest::mouseClick(View::button(*w, "startConvertButton"), Qt::LeftButton);
        QVERIFY(!View::button(*w, "startConvertButton")->isEnabled());
        QVERIFY(View::button(*w, "stopConvertButton")->isEnabled());
        QVERIFY(!View::button(*w, "uploadButton")->isEnabled()
            && !View::button(*w, "addTaskButton")->isEnabled()
            && !View::button(*w, "clearListButton")->isEnabled());
        // The controls a job disables look disabled.
        QVERIFY(View::button(*w, "clearListButton")->grab().toImage() != clearIdle);
        QVERIFY(View::button(*w, "addTaskButton")->grab().toImage() != addIdle);

        QTRY_VERIFY_WITH_TIMEOUT(!View::button(*w, "stopConvertButton")->isEnabled(), 60000);
        QCOMPARE(firstShown, str("认证中..."));
        QCOMPARE(dialogs->noticeTexts(), QStringList { str("文件已经全部转换完成！") });
        // While it ran, the box named the converted copy and the button the progress.
        QCOMPARE(boxAtRequest.mid(2, 4), words("talk_16k.wav|转写:0.0%|talk_16k.wav|转写:50.0%"));
        QCOMPARE(View::combo(*w, "taskFileCombo")->count(), 0);
        QVERIFY(View::taskQueue(*w).isEmpty());
        QCOMPARE(View::button(*w, "startConvertButton")->text(), str("开始转换"));
        QVERIFY(View::button(*w, "closeDocButton")->isEnabled()
            && View::button(*w, "clearListButton")->isEnabled());
        QVERIFY(View::button(*w, "clearListButton")->grab().toImage() == clearIdle);

        // The pane shows, and the transcript keeps, exactly what the service sent.
        const QString expected = MarkupLike + str("\n\n") + MarkupLike + str("\n");
        QCOMPARE(View::textPane(*w)->toPlainText(), expected);
        const QString transcript = app->path() + str("/myWordFiles/talk.txt");
        QCOMPARE(w->openTranscript(), transcript);
        QVERIFY(w->transcriptPaths().contains(transcript));
        QCOMPARE(readAll(transcript), QTextCodec::codecForLocale()->fromUnicode(expected));
    }

    // Closing by any path (the title bar's button, the window manager's close, which is
    // close()) or destroying the window ends the job in every step, and a recording.
    void closedInEveryStep_data()
    {
        QTest::addColumn<Step>("step");
        QTest::addColumn<bool>("destroy");
        // One step each with a process, a request and a timer under way: that the job ends
        // every step's own is tst_transcriptionjob's matrix; here, that the window's ways of
        // going end the job (and the recording) whatever it runs.
        const QList<QPair<const char *, Step>> steps = { { "converting", Step::Converting },
            { "uploading", Step::Uploading }, { "backing off", Step::BackingOff } };
        for (const auto &step : steps) {
            QTest::addRow("%s, closed", step.first) << step.second << false;
            QTest::addRow("%s, destroyed", step.first) << step.second << true;
        }
    }

    void closedInEveryStep()
    {
        QFETCH(Step, step);
        QFETCH(bool, destroy);
        peer->setFallback(TokenPath,
            step == Step::Authenticating ? Reply::silent()
                                         : Reply::json(R"({"access_token":"t"})"));
        peer->setFallback(SpeechPath,
            step == Step::BackingOff ? Reply::json(R"({"err_no":3304})") : Reply::silent());
        newWindow();
        // The stand-in writes each packet as it comes: ffmpeg would hold 8 s in its buffer.
        w->setCaptureInputOverride(words("-f|lavfi|-i|sine=frequency=440|-flush_packets|1"));
        View::chooseDevice(*w, str("Test Mic"));
        View::button(*w, "recordButton")->setChecked(true);
        QVERIFY(View::recordProcess(*w)->waitForStarted(10000));
        const QString recording = w->recordingFile();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recording).size() > 1000, 30000);

        bool reached = false;
        connect(w->transcriptionJob(), &TranscriptionJob::stepChanged, this,
            [&](Step now) { reached = reached || now == step; });
        View::button(*w, "startConvertButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(reached, 60000);
        const QList<qint64> pids
            = { View::convertProcess(*w)->processId(), View::probeProcess(*w)->processId(),
                  View::cutProcess(*w)->processId(), View::recordProcess(*w)->processId() };

        if (destroy)
            delete w;
        else
            QVERIFY(w->close());
        for (qint64 pid : pids)
            QVERIFY(processGone(pid));
        QVERIFY(dialogs->notices.isEmpty());
        // The recording was finished as the quit key finishes it: a complete, playable file.
        QVERIFY(WavInfo::fromFile(recording).isPcm16kMono());
        QVERIFY(WavInfo::fromFile(recording).dataBytes > 0);
        QVERIFY(!QFile::exists(app->path() + str("/myWordFiles/talk.txt")));
        QVERIFY(!QFile::exists(media.filePath(str("talk_16k.wav"))));
        if (!destroy) {
            QVERIFY(!View::button(*w, "stopConvertButton")->isEnabled());
            QCOMPARE(View::taskQueue(*w), QStringList { clip });
        }
    }
    // A job that ends while the window is not the active one says how it ended on the desktop,
    // one notice taking the place of the last; activating it shows the window. On a private
    // session bus (tst_jobwindow_bus), answered by the test's own notification service.
    void jobEndsOnTheDesktop()
    {
        if (!qEnvironmentVariableIsSet("TOV_PRIVATE_BUS"))
            QSKIP("run under dbus-run-session (tst_jobwindow_bus)");
        QDBusConnection daemon
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, str("daemon"));
        NoticeService service;
        QVERIFY(daemon.registerObject(
            str("/org/freedesktop/Notifications"), &service, QDBusConnection::ExportAllSlots));
        QVERIFY(daemon.registerService(str("org.freedesktop.Notifications")));
        newWindow();
        // The user works in another program's window meanwhile.
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(elsewhere.isActiveWindow() && !w->isActiveWindow(), 30000);

        peer->setFallback(SpeechPath, Reply::json(R"({"err_no":3300,"err_msg":"refused"})"));
        View::button(*w, "startConvertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(service.shown.size(), 1, 60000);
        QCOMPARE(service.shown[0].summary, str("转写失败"));
        QCOMPARE(service.shown[0].body, str("转写未完成，已完成0个文件"));

        peer->setFallback(SpeechPath, textReply(str("done")));
        QTRY_VERIFY_WITH_TIMEOUT(View::button(*w, "startConvertButton")->isEnabled(), 60000);
        View::button(*w, "startConvertButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(service.shown.size(), 2, 60000);
        QCOMPARE(service.shown[1].summary, str("转写完成"));
        QCOMPARE(service.shown[1].body, str("1个文件已经全部转换完成"));
        QCOMPARE(service.shown[1].replaces, 101u);

        QDBusMessage clicked = QDBusMessage::createSignal(str("/org/freedesktop/Notifications"),
            str("org.freedesktop.Notifications"), str("ActionInvoked"));
        clicked << 102u << str("default");
        QVERIFY(daemon.send(clicked));
        QTRY_VERIFY_WITH_TIMEOUT(w->isActiveWindow(), 30000);
        daemon.unregisterService(str("org.freedesktop.Notifications"));
    }
};

QTEST_MAIN(TestJobWindow)
#include "tst_jobwindow.moc"
