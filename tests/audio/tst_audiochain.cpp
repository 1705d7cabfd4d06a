#include <QtTest>

#include <QComboBox>
#include <QPushButton>

#include "ui/appglobals.h"
#include "audio/ffmpegargs.h"
#include "audio/wavinfo.h"
#include "common/scripteddialogs.h"
#include "common/testfiles.h"
#include "common/windowview.h"
#include "ui/widget.h"

using namespace TestFiles;

namespace {

const char *const networkFailed = "转换失败，请检查网络信号是否充足！";
const char *const noFfmpeg = "未找到ffmpeg程序，无法处理音频！";
const char *const conversionFailed = "音频转换失败，请检查文件是否完整！";
const char *const noDuration = "无法读取音频时长，请检查文件格式！";
const char *const cutFailed = "音频分割失败！";

QStringList segmentsOnDisk(const QString &appDir)
{
    QDir folder(appDir + str("/myTmpWAVFiles"));
    QStringList paths;
    for (int k = 0; folder.exists(QStringLiteral("%1.wav").arg(k)); ++k)
        paths << folder.filePath(QStringLiteral("%1.wav").arg(k));
    return paths;
}

// Where the window converts source: its own working folder, not beside the source.
QString copyIn(const QString &appDir, const QString &source)
{
    return appDir + str("/myTmpWAVFiles/") + QFileInfo(FfmpegArgs::convertedPath(source)).fileName();
}

} // namespace

// The job's audio steps on the real ffmpeg, driven through the window: conversion, probe and
// cutting up to the hand-over to the upload, the failures of each step, and stopping them.
class TestAudioChain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void convertsAndCuts_data();
    void convertsAndCuts();
    void badInputEndsWithMessage_data();
    void badInputEndsWithMessage();
    void failedCutEndsWithMessage();
    void durationWrittenInPieces();
    void missingFfmpeg();
    void pcmQuestionAnsweredNo();
    void restartBeginsWithFileAsAdded();

private:
    // Adds path through the upload dialog and starts the job with a token already held.
    void start(const QString &path);
    // Waits until the job is back to Idle.
    void waitIdle();
    void verifyIdleWithFront(const QString &source);

    QTemporaryDir media;
    QTemporaryDir *app = nullptr;
    Widget *w = nullptr;
    ScriptedDialogs *dialogs = nullptr;
};

void TestAudioChain::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    QVERIFY(media.isValid());
    const QString m = media.path();
    const QStringList sine = words("-f|lavfi|-i");
    QVERIFY(make(
        m + str("/tone125.wav"), sine + words("sine=frequency=440:duration=125|-ar|44100|-ac|2")));
    QVERIFY(make(m + str("/会议 记录 \"v2\" it's.final.mp3"),
        sine + words("sine=frequency=300:duration=58.5|-ar|44100|-ac|2")));
    QVERIFY(make(m + str("/exact59.wav"), sine + words("sine=duration=59|-ar|16000|-ac|1")));
    QVERIFY(make(m + str("/tail118.wav"), sine + words("sine=duration=118.6|-ar|16000|-ac|1")));
    QVERIFY(make(m + str("/half second.wav"), sine + words("sine=duration=0.5|-ar|22050")));
    QVERIFY(make(m + str("/talk.m4a"), sine + words("sine=duration=125|-c:a|aac|-ar|44100")));
    QVERIFY(make(m + str("/clip.mp4"),
        words("-f|lavfi|-i|testsrc=size=160x120:rate=10:duration=5|-f|lavfi|-i|"
              "sine=duration=5|-c:v|mpeg4|-c:a|aac|-shortest")));
    QVERIFY(make(m + str("/song.ogg"), sine + words("sine=duration=61|-c:a|libvorbis")));
    // The first half of an mp3: whatever can be decoded is transcribed.
    QVERIFY(make(m + str("/whole.mp3"), sine + words("sine=duration=40|-ar|44100")));
    QFile whole(m + str("/whole.mp3"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile half(m + str("/truncated.mp3"));
    QVERIFY(half.open(QIODevice::WriteOnly));
    half.write(whole.read(whole.size() / 2 + 1001));
    half.close();
    QVERIFY(make(m + str("/raw.pcm"), sine + words("sine=duration=125|-f|s16le|-ar|16000|-ac|1")));
}

void TestAudioChain::init()
{
    app = new QTemporaryDir;
    QVERIFY(app->isValid());
    AppGlobals::setAppDir(app->path());
    dialogs = new ScriptedDialogs;
    w = new Widget;
    // A closed port: the first upload fails at once and ends the job after the hand-over.
    w->setServiceBaseUrl(str("http://127.0.0.1:1"));
    w->transcriptionJob()->keepToken(str("test-token"));
}

void TestAudioChain::cleanup()
{
    // Converted copies beside the media would change what the next test meets.
    QDir folder(media.path());
    for (const QString &name : folder.entryList({ str("*_16k.wav") }, QDir::Files))
        folder.remove(name);
    delete w;
    w = nullptr;
    delete dialogs;
    dialogs = nullptr;
    delete app;
    app = nullptr;
}

void TestAudioChain::start(const QString &path)
{
    dialogs->openResults.enqueue({ path });
    View::button(*w, "uploadButton")->click();
    QCOMPARE(View::taskQueue(*w).value(0), path);
    View::button(*w, "startConvertButton")->click();
    QVERIFY(View::button(*w, "stopConvertButton")->isEnabled() || !dialogs->notices.isEmpty()
        || !dialogs->questions.isEmpty());
}

void TestAudioChain::waitIdle()
{
    QTRY_VERIFY_WITH_TIMEOUT(!View::button(*w, "stopConvertButton")->isEnabled(), 60000);
}

void TestAudioChain::verifyIdleWithFront(const QString &source)
{
    QCOMPARE(View::button(*w, "startConvertButton")->text(), str("开始转换"));
    QVERIFY(View::button(*w, "startConvertButton")->isEnabled());
    QVERIFY(!View::button(*w, "stopConvertButton")->isEnabled());
    QVERIFY(View::button(*w, "uploadButton")->isEnabled());
    QVERIFY(View::button(*w, "clearListButton")->isEnabled());
    QCOMPARE(View::convertProcess(*w)->state(), QProcess::NotRunning);
    QCOMPARE(View::probeProcess(*w)->state(), QProcess::NotRunning);
    QCOMPARE(View::cutProcess(*w)->state(), QProcess::NotRunning);
    // The task list holds the file as the user added it, ready for a fresh start.
    QCOMPARE(View::taskQueue(*w).value(0), source);
    QVERIFY(View::combo(*w, "taskFileCombo")->findText(source.section(QLatin1Char('/'), -1)) >= 0);
}

void TestAudioChain::convertsAndCuts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("segments");
    QTest::newRow("wav, 125 s: three segments") << "tone125.wav" << 125 << 3;
    QTest::newRow("mp3 with an odd name, 58.5 s: copied whole")
        << "会议 记录 \"v2\" it's.final.mp3" << 58 << 1;
    QTest::newRow("wav, exactly 59 s: one cut") << "exact59.wav" << 59 << 1;
    // 118 whole seconds make two segments; the last 0.6 s must still be in the second.
    QTest::newRow("wav, 118.6 s: the tail is kept") << "tail118.wav" << 118 << 2;
    QTest::newRow("wav, 0.5 s") << "half second.wav" << 0 << 1;
    QTest::newRow("m4a, 125 s") << "talk.m4a" << 125 << 3;
    QTest::newRow("mp4 with video") << "clip.mp4" << 5 << 1;
    QTest::newRow("ogg, 61 s") << "song.ogg" << 61 << 2;
    QTest::newRow("raw pcm, 125 s") << "raw.pcm" << 125 << 3;
    QTest::newRow("truncated mp3") << "truncated.mp3" << 20 << 1;
}

void TestAudioChain::convertsAndCuts()
{
    QFETCH(QString, name);
    QFETCH(int, seconds);
    QFETCH(int, segments);
    const QString source = media.filePath(name);
    const QByteArray before = readAll(source);
    const bool pcm = name.endsWith(str(".pcm"));
    dialogs->answers.enqueue(true);
    // The converted copy as the probe meets it, in the window's own working folder and for the
    // user's eyes only; the job removes it when it ends.
    const QString converted = pcm ? source : copyIn(app->path(), source);
    bool convertedIsPcm16kMono = pcm;
    bool convertedIsPrivate = pcm;
    QByteArray all;
    connect(View::probeProcess(*w), &QProcess::started, this, [&] {
        convertedIsPcm16kMono
            = convertedIsPcm16kMono || WavInfo::fromFile(converted).isPcm16kMono();
        convertedIsPrivate = convertedIsPrivate
            || (QFile::exists(converted)
                && !(QFile::permissions(converted)
                    & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther)));
        all = samples(converted);
    });

    start(source);
    waitIdle();
    // The only notice is the failed upload: the audio steps handed over.
    QCOMPARE(dialogs->noticeTexts(), QStringList { str(networkFailed) });
    QCOMPARE(dialogs->questions.size(), pcm ? 1 : 0);
    QCOMPARE(w->transcriptionJob()->data().audioSeconds, seconds);
    QCOMPARE(w->transcriptionJob()->data().segmentCount, segments);
    QVERIFY(convertedIsPcm16kMono && convertedIsPrivate);
    QCOMPARE(QFile::exists(converted), pcm);
    QVERIFY(pcm || !QFile::exists(FfmpegArgs::convertedPath(source)));
    const QStringList onDisk = segmentsOnDisk(app->path());
    QCOMPARE(onDisk.size(), segments);
    QCOMPARE(w->transcriptionJob()->data().segmentFiles, onDisk);
    // Together the segments hold every sample of the converted file once, in order.
    QByteArray joined;
    for (const QString &segment : onDisk) {
        if (segments > 1 || seconds >= FfmpegArgs::segmentSeconds)
            QVERIFY(WavInfo::fromFile(segment).isPcm16kMono());
        joined += samples(segment);
    }
    QVERIFY(!all.isEmpty());
    QCOMPARE(joined.size(), all.size());
    QVERIFY(joined == all);

    QCOMPARE(readAll(source), before);
    verifyIdleWithFront(source);
}

void TestAudioChain::badInputEndsWithMessage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // "<none>": missing; "<dir>": a folder
    QTest::addColumn<QString>("message");
    QByteArray random(40000, 0);
    quint32 seed = 12345;
    for (char &c : random) {
        seed = seed * 1103515245 + 12345;
        c = char(seed >> 16);
    }
    QTest::newRow("zero bytes") << "zero.mp3" << QByteArray() << conversionFailed;
    QTest::newRow("random bytes") << "noise.mp3" << random << conversionFailed;
    QTest::newRow("text named wav")
        << "notes.wav" << QByteArray("meeting notes\n") << conversionFailed;
    QTest::newRow("missing file") << "gone.mp3" << QByteArray("<none>") << conversionFailed;
    QTest::newRow("a folder") << "folder.mp3" << QByteArray("<dir>") << conversionFailed;
    QTest::newRow("empty pcm") << "empty.pcm" << QByteArray() << cutFailed;
    QTest::newRow("missing pcm") << "gone.pcm" << QByteArray("<none>") << noDuration;
    // ffmpeg reads a folder as raw audio of unknown length: nothing to copy as a segment.
    QTest::newRow("pcm folder") << "folder.pcm" << QByteArray("<dir>") << cutFailed;
}

void TestAudioChain::badInputEndsWithMessage()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString source = folder.filePath(name);
    if (content == "<dir>") {
        QVERIFY(QDir(folder.path()).mkdir(name));
    } else if (content != "<none>") {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const auto before = snapshot(folder.path());
    dialogs->answers.enqueue(true);

    start(source);
    waitIdle();
    QCOMPARE(dialogs->noticeTexts(), QStringList { message });
    QCOMPARE(dialogs->notices.first().title, str("提示"));
    QCOMPARE(snapshot(folder.path()), before);
    verifyIdleWithFront(source);
}

void TestAudioChain::failedCutEndsWithMessage()
{
    // A plain file where the segments should go: ffmpeg cannot write the first segment.
    const QString tmp = app->path() + str("/myTmpWAVFiles");
    QVERIFY(QDir(tmp).removeRecursively());
    QFile blocker(tmp);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString source = media.filePath(str("tone125.wav"));

    start(source);
    waitIdle();
    QCOMPARE(dialogs->noticeTexts(), QStringList { str(cutFailed) });
    QCOMPARE(w->transcriptionJob()->data().segmentIndex, 0);
    verifyIdleWithFront(source);
}

void TestAudioChain::durationWrittenInPieces()
{
    // ffmpeg writes "Duration: " and the time separately; a pause between the two writes makes
    // the probe's output arrive in two pieces. The stand-in does that and runs the real tool
    // for everything else.
    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    const QString real = QStandardPaths::findExecutable(str("ffmpeg"));
    QVERIFY(!real.isEmpty());
    QFile script(bin.filePath(str("ffmpeg")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n"
                 "if [ \"$#\" -eq 2 ] && [ \"$1\" = -i ]; then\n"
                 "  printf \"Input #0, wav, from '%s':\\n  Duration: \" \"$2\" >&2\n"
                 "  sleep 0.4\n"
                 "  printf '00:02:05.00, bitrate: 256 kb/s\\n' >&2\n"
                 "  exit 1\n"
                 "fi\n"
                 "exec '"
        + real.toUtf8() + "' \"$@\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);

    const QString source = media.filePath(str("tone125.wav"));
    start(source);
    waitIdle();
    qputenv("PATH", path);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str(networkFailed) });
    QCOMPARE(w->transcriptionJob()->data().audioSeconds, 125);
    QCOMPARE(segmentsOnDisk(app->path()).size(), 3);
}

void TestAudioChain::missingFfmpeg()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());
    const QString source = media.filePath(str("tone125.wav"));
    start(source);
    waitIdle();
    qputenv("PATH", path);
    QCOMPARE(dialogs->noticeTexts(), QStringList { str(noFfmpeg) });
    verifyIdleWithFront(source);
    QVERIFY(!QFile::exists(FfmpegArgs::convertedPath(source)));
}

void TestAudioChain::pcmQuestionAnsweredNo()
{
    const QString source = media.filePath(str("raw.pcm"));
    dialogs->answers.enqueue(false);
    start(source);
    // Asked once the job took its first step.
    QTRY_COMPARE_WITH_TIMEOUT(dialogs->questions.size(), 1, 20000);
    QCOMPARE(dialogs->questions.first().title, str("提示"));
    QCOMPARE(
        dialogs->questions.first().text, str("PCM文件要求[采样率=16000,1-单声道]是否继续转写呢？"));
    QVERIFY(dialogs->notices.isEmpty());
    QCOMPARE(View::probeProcess(*w)->state(), QProcess::NotRunning);
    verifyIdleWithFront(source);
    QCOMPARE(View::taskQueue(*w), QStringList { source });
}

void TestAudioChain::restartBeginsWithFileAsAdded()
{
    const QString source = media.filePath(str("会议 记录 \"v2\" it's.final.mp3"));
    const QString converted = copyIn(app->path(), source);
    start(source);
    waitIdle();
    verifyIdleWithFront(source);
    QCOMPARE(View::taskQueue(*w).size(), 1);
    QCOMPARE(View::combo(*w, "taskFileCombo")->count(), 1);

    // Run again: the source is converted once more, never its converted copy.
    QSignalSpy conversions(View::convertProcess(*w), &QProcess::started);
    dialogs->notices.clear();
    View::button(*w, "startConvertButton")->click();
    waitIdle();
    QCOMPARE(conversions.count(), 1);
    QCOMPARE(View::convertProcess(*w)->arguments(), FfmpegArgs::conversion(source, converted));
    QCOMPARE(dialogs->noticeTexts(), QStringList { str(networkFailed) });
    QVERIFY(!QFile::exists(FfmpegArgs::convertedPath(converted)));
    verifyIdleWithFront(source);
}

QTEST_MAIN(TestAudioChain)
#include "tst_audiochain.moc"
