#include <QtTest>

#include "audio/ffmpegargs.h"
#include "audio/ffmpegrunner.h"
#include "audio/wavinfo.h"

#include "common/testfiles.h"

using namespace TestFiles;

// The runner on the real ffmpeg: what it is handed reaches the tool intact, and a tool that
// cannot be started or is stopped is reported the way the window relies on.
class TestFfmpegRunner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QProcess::ExitStatus>(); }
    void oddPathsReachTheTool();
    void failedRunIsNotSuccess();
    void missingProgramIsReportedLater();
    void quietStopSendsNoFinished();
};

void TestFfmpegRunner::oddPathsReachTheTool()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Blanks, both quote characters, Chinese and several dots in folder and file names.
    QVERIFY(QDir(dir.path()).mkpath(str("会 议 \"2024\"")));
    const QString folder = dir.path() + str("/会 议 \"2024\"");
    const QString source = folder + str("/it's a \"take\".v1.final.wav");
    QProcess make;
    make.start(str("ffmpeg"),
        { str("-nostdin"), str("-loglevel"), str("error"), str("-f"), str("lavfi"), str("-i"),
            str("sine=frequency=300:duration=1.5"), str("-ac"), str("2"), str("-ar"), str("44100"),
            source });
    QVERIFY(make.waitForFinished(20000));
    QCOMPARE(make.exitCode(), 0);

    FfmpegRunner runner;
    QSignalSpy failures(&runner, &FfmpegRunner::failedToStart);
    QProcess process;
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    const QString target = FfmpegArgs::convertedPath(source);
    runner.start(&process, FfmpegArgs::conversion(source, target));
    QVERIFY(finished.wait(20000));
    QVERIFY(FfmpegRunner::succeeded(&process));
    QCOMPARE(failures.count(), 0);
    QCOMPARE(process.program(), str("ffmpeg"));
    const WavInfo converted = WavInfo::fromFile(target);
    QVERIFY(converted.isPcm16kMono());
    QCOMPARE(converted.frames(), qint64(24000));
}

void TestFfmpegRunner::failedRunIsNotSuccess()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString text = dir.filePath(str("notes.wav"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not audio at all\n");
    file.close();

    FfmpegRunner runner;
    QProcess process;
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    runner.start(&process, FfmpegArgs::conversion(text, dir.filePath(str("notes_16k.wav"))));
    QVERIFY(finished.wait(20000));
    QVERIFY(!FfmpegRunner::succeeded(&process));
    QVERIFY(!QFile::exists(dir.filePath(str("notes_16k.wav"))));
}

void TestFfmpegRunner::missingProgramIsReportedLater()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());

    FfmpegRunner runner;
    QProcess process;
    QSignalSpy failures(&runner, &FfmpegRunner::failedToStart);
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    runner.start(&process, FfmpegArgs::probe(str("/nowhere.wav")));
    qputenv("PATH", path);
    // The caller's step is over before it hears of the failure.
    QCOMPARE(failures.count(), 0);
    QVERIFY(failures.wait(5000));
    QCOMPARE(failures.count(), 1);
    QCOMPARE(failures.first().first().value<QProcess *>(), &process);
    QVERIFY(!QTest::qWaitFor([&] { return finished.count() > 0; }, 100));

    // The same process object runs again once the program is there.
    runner.start(&process, FfmpegArgs::probe(str("/nowhere.wav")));
    QVERIFY(finished.wait(20000));
    QCOMPARE(failures.count(), 1);
}

void TestFfmpegRunner::quietStopSendsNoFinished()
{
    FfmpegRunner runner;
    QProcess process;
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString endless = dir.filePath(str("endless.wav"));
    runner.start(&process, { str("-f"), str("lavfi"), str("-i"), str("sine"), endless });
    QVERIFY(process.waitForStarted(5000));
    FfmpegRunner::stopQuietly(&process);
    QCOMPARE(process.state(), QProcess::NotRunning);
    QVERIFY(!QTest::qWaitFor([&] { return finished.count() > 0; }, 200));

    // A run left running is ended by the next start rather than refused.
    runner.start(&process, { str("-f"), str("lavfi"), str("-i"), str("sine"), str("-y"), endless });
    QVERIFY(process.waitForStarted(5000));
    runner.start(&process, FfmpegArgs::probe(endless));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(process.arguments(), FfmpegArgs::probe(endless));
}

QTEST_GUILESS_MAIN(TestFfmpegRunner)
#include "tst_ffmpegrunner.moc"
