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
#include "ui/widget.h"

#include <sys/stat.h>

using namespace TestFiles;

namespace {

QStringList boxTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

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
    AppGlobals::appDir = app->path();
    dialogs = new ScriptedDialogs;
    w = new Widget;
    w->setServiceBaseUrl(str("http://127.0.0.1:1"));
    w->accessToken = str("test-token");
    w->setCaptureInputOverride(words("-f|lavfi|-i|sine=frequency=440"));
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
    w->slotLoadWav();
    QCOMPARE(dialogs->fileDialogs.size(), 1);
    QCOMPARE(dialogs->fileDialogs.first(),
        (QStringList { str("打开"), QString(),
            str("Audio Files(*.pcm;*.wav;*.amr;*.wma;*.mp3;*.m4a;*.aac);;"
                "Video Files(*.mp4;*.3gp);;All Files(*.*)") }));
    // The last chosen is transcribed first; the box lists them as chosen.
    QCOMPARE(w->taskFiles, words("/m/c.mp3|/m/b.mp3|/m/a.mp3"));
    QCOMPARE(boxTexts(w->taskFileCombo), words("a.mp3|b.mp3|c.mp3"));

    dialogs->openResults.enqueue({ str("D:\\rec\\talk 1.PCM"), str("/m/b.mp3") });
    w->slotLoadWav();
    QCOMPARE(w->taskFiles, words("D:/rec/talk 1.PCM|/m/c.mp3|/m/b.mp3|/m/a.mp3"));
    QCOMPARE(boxTexts(w->taskFileCombo), words("a.mp3|b.mp3|c.mp3|talk 1.PCM"));

    w->slotLoadWav(); // cancelled
    QCOMPARE(w->taskFiles.size(), 4);
    QCOMPARE(w->taskFileCombo->count(), 4);
}

void TestAudioWindow::addFromLibraryAndClear()
{
    const QString folder = app->path() + str("/myWAVFiles/");
    for (const char *name : { "x.wav", "y.wav", "z.wav" }) {
        QFile file(folder + str(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    w->wavList->clear();
    w->wavFiles
        = QStringList { folder + str("x.wav"), folder + str("y.wav"), folder + str("z.wav") };
    w->wavList->addItems(words("x.wav|y.wav|z.wav"));

    w->slotAddWav(); // nothing selected
    QVERIFY(w->taskFiles.isEmpty());
    QCOMPARE(w->taskFileCombo->count(), 0);

    w->wavList->setSelectionMode(QAbstractItemView::MultiSelection);
    w->wavList->item(0)->setSelected(true);
    w->wavList->item(2)->setSelected(true);
    w->slotAddWav();
    w->slotAddWav(); // again: already queued
    QCOMPARE(w->taskFiles, QStringList({ folder + str("z.wav"), folder + str("x.wav") }));
    QCOMPARE(boxTexts(w->taskFileCombo), words("x.wav|z.wav"));
    QCOMPARE(w->wavList->selectedItems().size(), 2);

    w->slotOpenWav();
    QVERIFY(w->taskFiles.isEmpty());
    QCOMPARE(w->taskFileCombo->count(), 0);
    QVERIFY(QFile::exists(folder + str("x.wav")));
    QVERIFY(QFile::exists(folder + str("z.wav")));
}

void TestAudioWindow::taskListLockedWhileJobRuns()
{
    // A pipe that nobody writes: the conversion waits on it until the job is stopped.
    const QString source = media.filePath(str("waiting.wav"));
    QVERIFY(::mkfifo(QFile::encodeName(source).constData(), 0600) == 0);
    dialogs->openResults.enqueue({ source });
    w->slotLoadWav();
    w->slotBeginCover();
    QVERIFY(w->stopConvertButton->isEnabled());
    QVERIFY(!w->uploadButton->isEnabled());
    QVERIFY(!w->addTaskButton->isEnabled());
    QVERIFY(!w->clearListButton->isEnabled());

    // Even when reached directly, nothing pulls the front file from under the job.
    dialogs->openResults.enqueue({ str("/m/other.mp3") });
    w->slotLoadWav();
    w->slotOpenWav();
    QCOMPARE(dialogs->fileDialogs.size(), 1);
    QCOMPARE(w->taskFiles, QStringList { source });

    // A recording that ends meanwhile queues behind the running file.
    w->audioDevice = str("Test Mic");
    const QString recorded = record();
    QVERIFY(!recorded.isEmpty());
    QVERIFY(w->stopConvertButton->isEnabled());
    QCOMPARE(w->taskFiles, QStringList({ source, recorded }));

    w->slotStopCover();
    QCOMPARE(w->ffmpegConvertProcess->state(), QProcess::NotRunning);
    QVERIFY(w->uploadButton->isEnabled());
    QVERIFY(w->addTaskButton->isEnabled());
    QVERIFY(w->clearListButton->isEnabled());
    QCOMPARE(w->taskFiles, QStringList({ source, recorded }));
    QVERIFY(dialogs->notices.isEmpty());
    QFile::remove(source);
}

QString TestAudioWindow::record(qint64 bytes)
{
    w->recordButton->setChecked(true);
    if (!w->ffmpegRecordProcess->waitForStarted(5000))
        return QString();
    // Until the tool has written samples, however slow the machine.
    const QString file = w->recordFile;
    // The state is checked below, whether or not it came in time.
    static_cast<void>(QTest::qWaitFor([&] { return QFileInfo(file).size() >= bytes; }, 30000));
    w->recordButton->setChecked(false);
    return file;
}

void TestAudioWindow::recordingWithTestInput()
{
    w->audioDevice = str("Mic (USB) 话筒");
    QVERIFY(!w->wavListButton->isChecked());
    w->recordButton->setChecked(true);
    QVERIFY(w->ffmpegRecordProcess->waitForStarted(5000));
    QCOMPARE(w->recordButton->toolTip(), str("停止录制"));
    QVERIFY(w->recordTimer->isActive());
    QCOMPARE(w->recordTimer->interval(), 500);
    const QString file = w->recordFile;
    QVERIFY(file.startsWith(app->path() + str("/myWAVFiles/")));
    QVERIFY(QFileInfo(file).fileName().contains(QRegularExpression(str("^\\d{6}_\\d{6}\\.wav$"))));
    QTRY_COMPARE_WITH_TIMEOUT(w->recordTimeLabel->text(), str("00:00:02"), 4000);
    QElapsedTimer ran;
    ran.start();
    w->recordButton->setChecked(false);
    QCOMPARE(w->ffmpegRecordProcess->state(), QProcess::NotRunning);
    QVERIFY2(ran.elapsed() < 5000, "the quit key ends the recording at once");

    // A real 16 kHz mono 16-bit file about as long as the recording ran.
    const WavInfo info = WavInfo::fromFile(file);
    QVERIFY(info.isPcm16kMono());
    QVERIFY2(info.frames() > 16000 * 1.5 && info.frames() < 16000 * 4,
        qPrintable(QString::number(info.frames())));

    const QString name = QFileInfo(file).fileName();
    QCOMPARE(w->wavFiles.last(), file);
    QCOMPARE(w->wavList->item(w->wavList->count() - 1)->text(), name);
    QCOMPARE(w->taskFileCombo->itemText(0), name);
    QCOMPARE(w->taskFileCombo->currentIndex(), 0);
    QCOMPARE(w->taskFiles, QStringList { file });
    QVERIFY(w->wavListButton->isChecked());
    QCOMPARE(w->recordButton->toolTip(), str("开始录制"));
    QVERIFY(!w->recordTimer->isActive());
    QCOMPARE(w->recordTimeLabel->text(), str("00:00:02"));
    QVERIFY(dialogs->notices.isEmpty());
}

void TestAudioWindow::closingWhileRecordingKeepsTheRecording()
{
    w->audioDevice = str("Mic");
    w->recordButton->setChecked(true);
    QVERIFY(w->ffmpegRecordProcess->waitForStarted(5000));
    const QString file = w->recordFile;
    // More than a second of samples on disk.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() > 44 + 40000, 30000);
    w->slotClose();
    QCOMPARE(w->ffmpegRecordProcess->state(), QProcess::NotRunning);
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
    w->audioDevice = str("Test Mic");
    const QString first = record();
    const QString second = record();
    QVERIFY(first.endsWith(str("_1.wav")));
    QVERIFY(second.endsWith(str("_1.wav")) || second.endsWith(str("_2.wav")));
    QVERIFY(first != second);
    for (const QString &path : existing)
        QCOMPARE(readAll(path), QByteArray("keep"));
    QVERIFY(WavInfo::fromFile(first).isPcm16kMono());
    QVERIFY(WavInfo::fromFile(second).isPcm16kMono());
    QCOMPARE(w->taskFiles, QStringList({ second, first }));
}

void TestAudioWindow::recordingWithoutDevice()
{
    w->audioDevice.clear();
    const QStringList library = w->wavFiles;
    w->recordButton->setChecked(true);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("没有检测到录音设备！") });
    QCOMPARE(dialogs->notices.first().title, str("提示"));
    // Back to Idle with nothing recorded, listed or stopped.
    QVERIFY(!w->recordButton->isChecked());
    QCOMPARE(w->recordButton->toolTip(), str("开始录制"));
    QVERIFY(!w->recordTimer->isActive());
    QCOMPARE(w->ffmpegRecordProcess->state(), QProcess::NotRunning);
    QCOMPARE(w->wavFiles, library);
    QVERIFY(w->taskFiles.isEmpty());
    QVERIFY(w->recordFile.isEmpty());

    // The next press starts a recording rather than running the stop steps.
    w->audioDevice = str("Test Mic");
    const QString file = record();
    QCOMPARE(w->taskFiles, QStringList { file });
    QCOMPARE(dialogs->notices.size(), 1);
}

void TestAudioWindow::recordingWithoutFfmpeg()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());
    w->audioDevice = str("Test Mic");
    w->recordButton->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs->notices.isEmpty(), 5000);
    qputenv("PATH", path);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("未找到ffmpeg程序，无法处理音频！") });
    QVERIFY(!w->recordButton->isChecked());
    QVERIFY(!w->recordTimer->isActive());
    QCOMPARE(w->recordButton->toolTip(), str("开始录制"));
    QVERIFY(w->taskFiles.isEmpty());
    QVERIFY(!QFile::exists(w->recordFile));
}

void TestAudioWindow::recordingThatWritesNothing()
{
    // A device ffmpeg cannot open: the tool ends at once and leaves no file.
    w->setCaptureInputOverride(words("-f|lavfi|-i|no_such_source"));
    w->audioDevice = str("Gone Mic");
    const QStringList library = w->wavFiles;
    w->recordButton->setChecked(true);
    QVERIFY(w->ffmpegRecordProcess->waitForFinished(30000));
    w->recordButton->setChecked(false);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("录音失败，未生成录音文件！") });
    QCOMPARE(w->wavFiles, library);
    QVERIFY(w->taskFiles.isEmpty());
    QCOMPARE(w->taskFileCombo->count(), 0);
    QCOMPARE(w->recordButton->toolTip(), str("开始录制"));
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
    w->clearFolder(dir.path());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { str("sub") });
    QVERIFY(QFile::exists(dir.filePath(str("sub/keep.wav"))));
}

void TestAudioWindow::playbackButtonsAndFileChoice()
{
    w->slotPlay();
    QCOMPARE(dialogs->noticeTexts(), QStringList { str("无可播放的音频文件！") });
    QVERIFY(!w->playButton->isHidden());
    QVERIFY(w->pauseButton->isHidden());
    QVERIFY(!w->isPlaying);

    // The first path that contains the selected name is played.
    const QString ba = media.filePath(str("ba.wav"));
    const QString a = media.filePath(str("a.wav"));
    QVERIFY(QFile::copy(media.filePath(str("three.wav")), ba));
    QVERIFY(QFile::copy(media.filePath(str("three.wav")), a));
    dialogs->openResults.enqueue({ a, ba });
    w->slotLoadWav();
    QCOMPARE(w->taskFiles, QStringList({ ba, a }));
    w->taskFileCombo->setCurrentIndex(w->taskFileCombo->findText(str("a.wav")));
    w->slotPlay();
    QCOMPARE(w->playingFile, ba);
    QVERIFY(w->isPlaying);
    QVERIFY(w->playButton->isHidden());
    QVERIFY(!w->pauseButton->isHidden());

    w->slotPause();
    QVERIFY(!w->playButton->isHidden());
    QVERIFY(w->pauseButton->isHidden());
    QVERIFY(w->isPlaying);
    w->slotPause(); // nothing playing: only the buttons
    QVERIFY(!w->playButton->isHidden());

    w->slotPlay();
    w->slotForward();
    QVERIFY(!w->playButton->isHidden());
    QVERIFY(w->isPlaying); // stop keeps the file loaded

    // Another selection: the next play loads it anew.
    w->slotPlay();
    w->taskFileCombo->setCurrentIndex(w->taskFileCombo->findText(str("ba.wav")));
    QVERIFY(!w->isPlaying);
    QVERIFY(!w->playButton->isHidden());
    QVERIFY(w->pauseButton->isHidden());

    w->slotPlay();
    w->playend();
    QVERIFY(!w->isPlaying);
    QVERIFY(!w->playButton->isHidden());
    QVERIFY(w->pauseButton->isHidden());

    w->slotOpenWav();
    w->slotPlay();
    QCOMPARE(dialogs->notices.size(), 2);
    QCOMPARE(dialogs->notices.last().text, str("无可播放的音频文件！"));
}

void TestAudioWindow::playbackShowsPosition()
{
    const QString file = media.filePath(str("three.wav"));
    dialogs->openResults.enqueue({ file });
    w->slotLoadWav();
    w->slotPlay();
    QCOMPARE(w->playingFile, file);
    // The media framework reports the length and moves the position while it plays.
    QTRY_COMPARE_WITH_TIMEOUT(
        w->playTimeLabel->text().section(str(" / "), 1), str("00:00:03"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w->playTimeLabel->text(), str("00:00:01 / 00:00:03"), 10000);
    w->slotBackward();
    QTRY_COMPARE_WITH_TIMEOUT(w->playTimeLabel->text(), str("00:00:00 / 00:00:03"), 5000);
    // At the end the player returns to its idle look.
    QTRY_VERIFY_WITH_TIMEOUT(!w->isPlaying, 10000);
    QVERIFY(!w->playButton->isHidden());
    QVERIFY(w->pauseButton->isHidden());
}

QTEST_MAIN(TestAudioWindow)
#include "tst_audiowindow.moc"
