#include <QtTest>

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "ui/appglobals.h"
#include "audio/wavinfo.h"
#include "common/scripteddialogs.h"
#include "common/testfiles.h"
#include "ui/mylistwidget.h"
#include "common/windowview.h"
#include "ui/widget.h"

#include <sys/stat.h>

using namespace TestFiles;

// The task list, recording and playback of the window.
class TestAudioWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void uploadGoesToTheFront();
    void addFromLibraryAndClear();
    void taskListLockedWhileJobRuns();
    void recordingWithTestInput();
    void closingWhileRecordingKeepsTheRecording();
    void recordingGetsFreeName();
    void recordingWithoutDevice();
    void recordingWithoutFfmpeg();
    void recordingThatWritesNothing();
    void clearFolderKeepsSubfolders();
    void playbackButtonsAndFileChoice();
    void playbackShowsPosition();

private:
    // A window over the application folder, as it is now.
    void openWindow();
    // Records about `ms` milliseconds from the test input and returns the new file.
    // Records until the file holds at least bytes; its path.
    QString record(qint64 bytes = 1000);

    QTemporaryDir media;
    QTemporaryDir *app = nullptr;
    Widget *w = nullptr;
    ScriptedDialogs *dialogs = nullptr;
};

void TestAudioWindow::initTestCase()
{
    QVERIFY(media.isValid());
    QVERIFY(make(
        media.filePath(str("three.wav")), words("-f|lavfi|-i|sine=duration=3|-ar|16000|-ac|1")));
    QVERIFY(make(
        media.filePath(str("long.wav")), words("-f|lavfi|-i|sine=duration=125|-ar|16000|-ac|1")));
}

void TestAudioWindow::init()
{
    app = new QTemporaryDir;
    QVERIFY(app->isValid());
    AppGlobals::setAppDir(app->path());
    dialogs = new ScriptedDialogs;
    openWindow();
}

void TestAudioWindow::openWindow()
{
    delete w;
    w = new Widget;
    w->setServiceBaseUrl(str("http://127.0.0.1:1"));
    w->transcriptionJob()->keepToken(str("test-token"));
    // The stand-in writes each packet as it comes: ffmpeg would hold 8 s in its buffer.
    w->setCaptureInputOverride(words("-f|lavfi|-i|sine=frequency=440|-flush_packets|1"));
}

void TestAudioWindow::cleanup()
{
    delete w;
    w = nullptr;
    delete dialogs;
    dialogs = nullptr;
    delete app;
    app = nullptr;
}

void TestAudioWindow::uploadGoesToTheFront()
{
    dialogs->openResults.enqueue(words("/m/a.mp3|/m/b.mp3|/m/c.mp3|/m/a.mp3"));
    View::button(*w, "uploadButton")->click();
    QCOMPARE(dialogs->fileDialogs.size(), 1);
    QCOMPARE(dialogs->fileDialogs.first(),
        (QStringList { str("打开"), QString(),
            str("Audio Files(*.pcm;*.wav;*.amr;*.wma;*.mp3;*.m4a;*.aac);;"
                "Video Files(*.mp4;*.3gp);;All Files(*.*)") }));
    // The last chosen is transcribed first; the box lists them as chosen.
    QCOMPARE(View::taskQueue(*w), words("/m/c.mp3|/m/b.mp3|/m/a.mp3"));
    QCOMPARE(View::taskTexts(*w), words("a.mp3|b.mp3|c.mp3"));

    dialogs->openResults.enqueue({ str("D:\\rec\\talk 1.PCM"), str("/m/b.mp3") });
    View::button(*w, "uploadButton")->click();
    QCOMPARE(View::taskQueue(*w), words("D:/rec/talk 1.PCM|/m/c.mp3|/m/b.mp3|/m/a.mp3"));
    QCOMPARE(View::taskTexts(*w), words("a.mp3|b.mp3|c.mp3|talk 1.PCM"));

    View::button(*w, "uploadButton")->click(); // cancelled
    QCOMPARE(View::taskQueue(*w).size(), 4);
    QCOMPARE(View::combo(*w, "taskFileCombo")->count(), 4);
}

void TestAudioWindow::addFromLibraryAndClear()
{
    const QString folder = app->path() + str("/myWAVFiles/");
    for (const char *name : { "x.wav", "y.wav", "z.wav" }) {
        QFile file(folder + str(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    openWindow(); // lists the library anew

    View::button(*w, "addTaskButton")->click(); // nothing selected
    QVERIFY(View::taskQueue(*w).isEmpty());
    QCOMPARE(View::combo(*w, "taskFileCombo")->count(), 0);

    View::list(*w, "wavList")->setSelectionMode(QAbstractItemView::MultiSelection);
    View::list(*w, "wavList")->item(0)->setSelected(true);
    View::list(*w, "wavList")->item(2)->setSelected(true);
    View::button(*w, "addTaskButton")->click();
    View::button(*w, "addTaskButton")->click(); // again: already queued
    QCOMPARE(View::taskQueue(*w), QStringList({ folder + str("z.wav"), folder + str("x.wav") }));
    QCOMPARE(View::taskTexts(*w), words("x.wav|z.wav"));
    QCOMPARE(View::list(*w, "wavList")->selectedItems().size(), 2);

    View::button(*w, "clearListButton")->click();
    QVERIFY(View::taskQueue(*w).isEmpty());
    QCOMPARE(View::combo(*w, "taskFileCombo")->count(), 0);
    QVERIFY(QFile::exists(folder + str("x.wav")));
    QVERIFY(QFile::exists(folder + str("z.wav")));
}

void TestAudioWindow::taskListLockedWhileJobRuns()
{
    // A pipe that nobody writes: the conversion waits on it until the job is stopped.
    const QString source = media.filePath(str("waiting.wav"));
    QVERIFY(::mkfifo(QFile::encodeName(source).constData(), 0600) == 0);
    dialogs->openResults.enqueue({ source });
    View::button(*w, "uploadButton")->click();
    View::button(*w, "startConvertButton")->click();
    QVERIFY(View::button(*w, "stopConvertButton")->isEnabled());
    QVERIFY(!View::button(*w, "uploadButton")->isEnabled());
    QVERIFY(!View::button(*w, "addTaskButton")->isEnabled());
    QVERIFY(!View::button(*w, "clearListButton")->isEnabled());

    // Even when reached directly, nothing pulls the front file from under the job.
    dialogs->openResults.enqueue({ str("/m/other.mp3") });
    emit View::button(*w, "uploadButton")->clicked();
    emit View::button(*w, "clearListButton")->clicked();
    QCOMPARE(dialogs->fileDialogs.size(), 1);
    QCOMPARE(View::taskQueue(*w), QStringList { source });

    // A recording that ends meanwhile queues behind the running file.
    View::chooseDevice(*w, str("Test Mic"));
    const QString recorded = record();
    QVERIFY(!recorded.isEmpty());
    QVERIFY(View::button(*w, "stopConvertButton")->isEnabled());
    QCOMPARE(View::taskQueue(*w), QStringList({ source, recorded }));

    View::button(*w, "stopConvertButton")->click();
    QCOMPARE(View::convertProcess(*w)->state(), QProcess::NotRunning);
    QVERIFY(View::button(*w, "uploadButton")->isEnabled());
    QVERIFY(View::button(*w, "addTaskButton")->isEnabled());
    QVERIFY(View::button(*w, "clearListButton")->isEnabled());
    QCOMPARE(View::taskQueue(*w), QStringList({ source, recorded }));
    QVERIFY(dialogs->notices.isEmpty());
    QFile::remove(source);
}

QString TestAudioWindow::record(qint64 bytes)
{
    View::button(*w, "recordButton")->setChecked(true);
    if (!View::recordProcess(*w)->waitForStarted(5000))
        return QString();
    // Until the tool has written samples, however slow the machine.
    const QString file = w->recordingFile();
    // The state is checked below, whether or not it came in time.
    static_cast<void>(QTest::qWaitFor([&] { return QFileInfo(file).size() >= bytes; }, 30000));
    View::button(*w, "recordButton")->setChecked(false);
    return file;
}

void TestAudioWindow::recordingWithTestInput()
{
    View::chooseDevice(*w, str("Mic (USB) 话筒"));
    QVERIFY(!View::button(*w, "wavListButton")->isChecked());
    View::button(*w, "recordButton")->setChecked(true);
    QVERIFY(View::recordProcess(*w)->waitForStarted(5000));
    QCOMPARE(View::button(*w, "recordButton")->toolTip(), str("停止录制"));
    QVERIFY(View::recordClock(*w)->isActive());
    QCOMPARE(View::recordClock(*w)->interval(), 500);
    const QString file = w->recordingFile();
    QVERIFY(file.startsWith(app->path() + str("/myWAVFiles/")));
    QVERIFY(QFileInfo(file).fileName().contains(QRegularExpression(str("^\\d{6}_\\d{6}\\.wav$"))));
    QTRY_COMPARE_WITH_TIMEOUT(View::label(*w, "recordTimeLabel")->text(), str("00:00:02"), 4000);
    // On a busy machine ffmpeg may start late: wait until it has written a second and a half.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() > 44 + 2 * 24000, 30000);
    const QString shown = View::label(*w, "recordTimeLabel")->text();
    const int shownSeconds = QTime::fromString(shown, str("hh:mm:ss")).msecsSinceStartOfDay() / 1000;
    QElapsedTimer ran;
    ran.start();
    View::button(*w, "recordButton")->setChecked(false);
    QCOMPARE(View::recordProcess(*w)->state(), QProcess::NotRunning);
    QVERIFY2(ran.elapsed() < 5000, "the quit key ends the recording at once");

    // A real 16 kHz mono 16-bit file about as long as the recording ran.
    const WavInfo info = WavInfo::fromFile(file);
    QVERIFY(info.isPcm16kMono());
    QVERIFY2(info.frames() > 16000 * 1.5 && info.frames() < 16000 * (shownSeconds + 2),
        qPrintable(QString::number(info.frames())));

    const QString name = QFileInfo(file).fileName();
    QCOMPARE(w->audioPaths().last(), file);
    QCOMPARE(View::list(*w, "wavList")->item(View::list(*w, "wavList")->count() - 1)->text(), name);
    QCOMPARE(View::combo(*w, "taskFileCombo")->itemText(0), name);
    QCOMPARE(View::combo(*w, "taskFileCombo")->currentIndex(), 0);
    QCOMPARE(View::taskQueue(*w), QStringList { file });
    QVERIFY(View::button(*w, "wavListButton")->isChecked());
    QCOMPARE(View::button(*w, "recordButton")->toolTip(), str("开始录制"));
    QVERIFY(!View::recordClock(*w)->isActive());
    QCOMPARE(View::label(*w, "recordTimeLabel")->text(), shown);
    QVERIFY(dialogs->notices.isEmpty());
}

void TestAudioWindow::closingWhileRecordingKeepsTheRecording()
{
    View::chooseDevice(*w, str("Mic"));
    View::button(*w, "recordButton")->setChecked(true);
    QVERIFY(View::recordProcess(*w)->waitForStarted(5000));
    const QString file = w->recordingFile();
    // More than a second of samples on disk.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() > 44 + 40000, 30000);
    View::button(*w, "closeButton")->click();
    QCOMPARE(View::recordProcess(*w)->state(), QProcess::NotRunning);
    // The tool was let finish its file: the header tells the real length of the samples.
    const WavInfo info = WavInfo::fromFile(file);
    QVERIFY(info.isPcm16kMono());
    QVERIFY(info.frames() > 16000);
    const QByteArray bytes = readAll(file);
    const uchar *declared
        = reinterpret_cast<const uchar *>(bytes.constData()) + info.dataOffset - 4;
    const qint64 declaredBytes
        = declared[0] | declared[1] << 8 | declared[2] << 16 | qint64(declared[3]) << 24;
    QCOMPARE(declaredBytes, bytes.size() - info.dataOffset);
}

void TestAudioWindow::recordingGetsFreeName()
{
    // Files of the coming minute already exist: a recording must not overwrite any of them.
    const QString folder = app->path() + str("/myWAVFiles/");
    const QDateTime now = QDateTime::currentDateTime();
    QStringList existing;
    for (int s = 0; s < 60; ++s) {
        const QString path = folder + now.addSecs(s).toString(str("yyMMdd_hhmmss")) + str(".wav");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
        existing << path;
    }
    View::chooseDevice(*w, str("Test Mic"));
    const QString first = record();
    const QString second = record();
    QVERIFY(first.endsWith(str("_1.wav")));
    QVERIFY(second.endsWith(str("_1.wav")) || second.endsWith(str("_2.wav")));
    QVERIFY(first != second);
    for (const QString &path : existing)
        QCOMPARE(readAll(path), QByteArray("keep"));
    QVERIFY(WavInfo::fromFile(first).isPcm16kMono());
    QVERIFY(WavInfo::fromFile(second).isPcm16kMono());
    QCOMPARE(View::taskQueue(*w), QStringList({ second, first }));
}

void TestAudioWindow::recordingWithoutDevice()
{
    View::chooseDevice(*w, QString());
    const QStringList library = w->audioPaths();
    View::button(*w, "recordButton")->setChecked(true);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("没有检测到录音设备！") });
    QCOMPARE(dialogs->notices.first().title, str("提示"));
    // Back to Idle with nothing recorded, listed or stopped.
    QVERIFY(!View::button(*w, "recordButton")->isChecked());
    QCOMPARE(View::button(*w, "recordButton")->toolTip(), str("开始录制"));
    QVERIFY(!View::recordClock(*w)->isActive());
    QCOMPARE(View::recordProcess(*w)->state(), QProcess::NotRunning);
    QCOMPARE(w->audioPaths(), library);
    QVERIFY(View::taskQueue(*w).isEmpty());
    QVERIFY(w->recordingFile().isEmpty());

    // The next press starts a recording rather than running the stop steps.
    View::chooseDevice(*w, str("Test Mic"));
    const QString file = record();
    QCOMPARE(View::taskQueue(*w), QStringList { file });
    QCOMPARE(dialogs->notices.size(), 1);
}

void TestAudioWindow::recordingWithoutFfmpeg()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());
    View::chooseDevice(*w, str("Test Mic"));
    View::button(*w, "recordButton")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 5000);
    qputenv("PATH", path);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("未找到ffmpeg程序，无法处理音频！") });
    QVERIFY(!View::button(*w, "recordButton")->isChecked());
    QVERIFY(!View::recordClock(*w)->isActive());
    QCOMPARE(View::button(*w, "recordButton")->toolTip(), str("开始录制"));
    QVERIFY(View::taskQueue(*w).isEmpty());
    QVERIFY(!QFile::exists(w->recordingFile()));
}

void TestAudioWindow::recordingThatWritesNothing()
{
    // A device ffmpeg cannot open: the tool ends at once and leaves no file.
    w->setCaptureInputOverride(words("-f|lavfi|-i|no_such_source"));
    View::chooseDevice(*w, str("Gone Mic"));
    const QStringList library = w->audioPaths();
    View::button(*w, "recordButton")->setChecked(true);
    QVERIFY(View::recordProcess(*w)->waitForFinished(30000));
    View::button(*w, "recordButton")->setChecked(false);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("录音失败，未生成录音文件！") });
    QCOMPARE(w->audioPaths(), library);
    QVERIFY(View::taskQueue(*w).isEmpty());
    QCOMPARE(View::combo(*w, "taskFileCombo")->count(), 0);
    QCOMPARE(View::button(*w, "recordButton")->toolTip(), str("开始录制"));
}

void TestAudioWindow::clearFolderKeepsSubfolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(str("sub")));
    for (const char *name : { "0.wav", "1 b.wav", "sub/keep.wav" }) {
        QFile file(dir.filePath(str(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    TranscriptionJob::clearFolder(dir.path());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { str("sub") });
    QVERIFY(QFile::exists(dir.filePath(str("sub/keep.wav"))));
}

void TestAudioWindow::playbackButtonsAndFileChoice()
{
    View::button(*w, "playButton")->click();
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("无可播放的音频文件！") });
    QVERIFY(!View::button(*w, "playButton")->isHidden());
    QVERIFY(View::button(*w, "pauseButton")->isHidden());
    QVERIFY(!w->playbackLoaded());

    // The chosen entry's own file is played, not an earlier one whose name ends alike.
    const QString ba = media.filePath(str("ba.wav"));
    const QString a = media.filePath(str("a.wav"));
    QVERIFY(QFile::copy(media.filePath(str("three.wav")), ba));
    QVERIFY(QFile::copy(media.filePath(str("three.wav")), a));
    dialogs->openResults.enqueue({ a, ba });
    View::button(*w, "uploadButton")->click();
    QCOMPARE(View::taskQueue(*w), QStringList({ ba, a }));
    View::combo(*w, "taskFileCombo")->setCurrentIndex(View::combo(*w, "taskFileCombo")->findText(str("a.wav")));
    View::button(*w, "playButton")->click();
    QCOMPARE(w->playbackFile(), a);
    QVERIFY(w->playbackLoaded());
    QVERIFY(View::button(*w, "playButton")->isHidden());
    QVERIFY(!View::button(*w, "pauseButton")->isHidden());

    View::button(*w, "pauseButton")->click();
    QVERIFY(!View::button(*w, "playButton")->isHidden());
    QVERIFY(View::button(*w, "pauseButton")->isHidden());
    QVERIFY(w->playbackLoaded());
    View::button(*w, "pauseButton")->click(); // nothing playing: only the buttons
    QVERIFY(!View::button(*w, "playButton")->isHidden());

    View::button(*w, "playButton")->click();
    View::button(*w, "stopButton")->click();
    QVERIFY(!View::button(*w, "playButton")->isHidden());
    QVERIFY(w->playbackLoaded()); // stop keeps the file loaded

    // Another selection: the next play loads it anew.
    View::button(*w, "playButton")->click();
    View::combo(*w, "taskFileCombo")->setCurrentIndex(View::combo(*w, "taskFileCombo")->findText(str("ba.wav")));
    QVERIFY(!w->playbackLoaded());
    QVERIFY(!View::button(*w, "playButton")->isHidden());
    QVERIFY(View::button(*w, "pauseButton")->isHidden());

    View::button(*w, "playButton")->click();
    emit View::player(*w)->finished();
    QVERIFY(!w->playbackLoaded());
    QVERIFY(!View::button(*w, "playButton")->isHidden());
    QVERIFY(View::button(*w, "pauseButton")->isHidden());

    View::button(*w, "clearListButton")->click();
    View::button(*w, "playButton")->click();
    QCOMPARE(dialogs->notices.size(), 2);
    QCOMPARE(dialogs->notices.last().text, str("无可播放的音频文件！"));
}

void TestAudioWindow::playbackShowsPosition()
{
    const QString file = media.filePath(str("three.wav"));
    dialogs->openResults.enqueue({ file });
    View::button(*w, "uploadButton")->click();
    View::button(*w, "playButton")->click();
    QCOMPARE(w->playbackFile(), file);
    // The media framework reports the length and moves the position while it plays.
    QTRY_COMPARE_WITH_TIMEOUT(
        View::label(*w, "playTimeLabel")->text().section(str(" / "), 1), str("00:00:03"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(View::label(*w, "playTimeLabel")->text(), str("00:00:01 / 00:00:03"), 10000);
    View::button(*w, "backwardButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(View::label(*w, "playTimeLabel")->text(), str("00:00:00 / 00:00:03"), 5000);
    // At the end the player returns to its idle look.
    QTRY_VERIFY_WITH_TIMEOUT(!w->playbackLoaded(), 10000);
    QVERIFY(!View::button(*w, "playButton")->isHidden());
    QVERIFY(View::button(*w, "pauseButton")->isHidden());
}

QTEST_MAIN(TestAudioWindow)
#include "tst_audiowindow.moc"
