// tovarin-transcribe --live as a user runs it: a real process whose capture device is stood in
// for by ffmpeg reading spoken sentences at real-time speed, the real speech service, and a
// signal that ends it in the middle of a sentence.
#include <QtTest>

#include <csignal>

#include "common/paddedspeech.h"
#include "common/speechservice.h"
#include "common/testfiles.h"
#include "common/wordrate.h"

using TestFiles::str;

namespace {
const QStringList Sentences = {
    QStringLiteral("The weather was cold this morning, so we stayed inside."),
    QStringLiteral("My brother wants to study history at the university."),
    QStringLiteral("Our teacher said that the best way to learn a language is to speak it."),
};
} // namespace

class TestCliLive : public QObject
{
    Q_OBJECT

private slots:
    void printsAsSaidAndWritesOnSignal_data();
    void printsAsSaidAndWritesOnSignal();
};

void TestCliLive::printsAsSaidAndWritesOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestCliLive::printsAsSaidAndWritesOnSignal()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString speech = dir.filePath(str("speech.wav"));
    QVERIFY(makePaddedSpeech(speech, Sentences, 6));
    SpeechServiceProcess service;
    QVERIFY2(service.start(), qPrintable(service.logText()));

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(str("XDG_CONFIG_HOME"), dir.filePath(str("config")));
    env.insert(str("TOVARIN_CAPTURE_INPUT"), str("-i \"%1\"").arg(speech));
    run.setProcessEnvironment(env);
    const QString out = dir.filePath(str("out put"));
    run.start(str(TOVARIN_TRANSCRIBE),
        { str("--live"), str("-l"), str("en"), str("-s"), service.baseUrl(), str("-f"),
            str("txt,srt,json"), str("-o"), out });
    QString printed;
    const auto recorded = [&] {
        const QFileInfoList found = QDir(out).entryInfoList({ str("*.wav") });
        return found.isEmpty() ? 0 : found.first().size();
    };
    // Two sentences' texts while the recording goes on, then the signal while the third is
    // being said (from 12 s on).
    QTRY_VERIFY_WITH_TIMEOUT(
        (printed += QString::fromLocal8Bit(run.readAllStandardOutput())).count(QLatin1Char('['))
            >= 2,
        90000);
    QTRY_VERIFY_WITH_TIMEOUT(recorded() > 13500 * 32, 90000);
    QCOMPARE(run.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(run.processId()), signalNumber), 0);
    QVERIFY(run.waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.exitCode() == 0, qPrintable(err));
    printed += QString::fromLocal8Bit(run.readAllStandardOutput());
    const QStringList lines = printed.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Each text with its time, in the order said; the cut-off sentence's first words are kept.
    QCOMPARE(lines.size(), 3 + 3);
    QVERIFY2(lines[0].startsWith(str("[00:00:0")), qPrintable(lines[0]));
    QVERIFY2(WordRate::errorRate(Sentences[1], lines[1].section(str("] "), 1)) < 0.35,
        qPrintable(lines[1]));
    QVERIFY2(lines[2].section(str("] "), 1).startsWith(str("our")), qPrintable(lines[2]));

    // The recording and each transcript are written, named as a file job names them.
    const QStringList recordings = QDir(out).entryList({ str("*.wav") });
    QCOMPARE(recordings.size(), 1);
    const QString base = out + QLatin1Char('/') + recordings[0].chopped(4);
    QCOMPARE(
        lines.mid(3), QStringList({ base + str(".txt"), base + str(".srt"), base + str(".json") }));
    QVERIFY(WavInfo::fromFile(out + QLatin1Char('/') + recordings[0]).isPcm16kMono());
    const QString text = QString::fromLocal8Bit(TestFiles::readAll(base + str(".txt")));
    QCOMPARE(text.count(str("\n\n")), 2);
    QVERIFY(TestFiles::readAll(base + str(".srt")).startsWith("1\n00:00:0"));
    QVERIFY(TestFiles::readAll(base + str(".json")).contains("\"utterances\""));
}

QTEST_GUILESS_MAIN(TestCliLive)
#include "tst_clilive.moc"
