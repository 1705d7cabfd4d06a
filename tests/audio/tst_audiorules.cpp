#include <QtTest>

#include "audio/audiotexts.h"
#include "audio/durationparser.h"
#include "audio/ffmpegargs.h"
#include "audio/wavinfo.h"
#include "platform/captureinput.h"

#include <QSet>

#include "common/testfiles.h"

using namespace TestFiles;

class TestAudioRules : public QObject
{
    Q_OBJECT

private slots:
    void usableInputDevices();
    void captureInput_data();
    void captureInput();
    void arguments_data();
    void arguments();
    void segmentPlan_data();
    void segmentPlan();
    void duration_data();
    void duration();
    void durationLineComplete_data();
    void durationLineComplete();
    void clockText_data();
    void clockText();
    void playPosition_data();
    void playPosition();
    void recordFileNames();
    void wavHeader();
};

void TestAudioRules::usableInputDevices()
{
    using CaptureInput::ListedDevice;
    auto alsa = [](const char *name) { return ListedDevice { str(name), true }; };
    auto server = [](const char *name) { return ListedDevice { str(name), false }; };
    // What Qt lists on a desktop with ALSA's plug-ins and a sound server: the speakers' monitor
    // before the microphone, which is the server's default.
    const QList<ListedDevice> desktop { alsa("default"), alsa("lavrate"), alsa("upmix"),
        alsa("pulse"), alsa("sysdefault:CARD=PCH"), server("alsa_output.pci.monitor"),
        server("alsa_input.pci"), server("Default"), server("Mic (USB) 话筒") };
    QCOMPARE(CaptureInput::usableNames(desktop, str("alsa_input.pci")),
        (QStringList { str("alsa_input.pci"), str("alsa_output.pci.monitor"), str("Default"),
            str("Mic (USB) 话筒"), str("sysdefault:CARD=PCH") }));
    // ALSA alone (Qt's server plug-in then lists one nameless device).
    const QList<ListedDevice> cardsOnly { alsa("default"), alsa("lavrate"),
        alsa("hw:CARD=PCH,DEV=0"), alsa("hw:CARD=PCH,DEV=0"), server("") };
    QCOMPARE(CaptureInput::usableNames(cardsOnly, QString()),
        (QStringList { str("hw:CARD=PCH,DEV=0"), str("hw:CARD=PCH,DEV=0") }));
    // Nothing bound to a card or a server: the bare names are all there is.
    QCOMPARE(CaptureInput::usableNames({ alsa("default"), alsa("null"), alsa("jack") }, QString()),
        (QStringList { str("null"), str("jack") }));
    QVERIFY(CaptureInput::usableNames({ alsa("default"), server("default") }, str("default"))
                .isEmpty());
}

void TestAudioRules::captureInput_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("format");
    QTest::newRow("pulse source") << "alsa_input.pci-0000_00_1f.3.analog-stereo"
                                  << "pulse";
    QTest::newRow("pulse monitor") << "alsa_output.usb-Mic_(USB)-00.monitor"
                                   << "pulse";
    QTest::newRow("alsa card") << "hw:CARD=PCH,DEV=0"
                               << "alsa";
    QTest::newRow("alsa numbers") << "plughw:1,0"
                                  << "alsa";
    QTest::newRow("alsa plug-in") << "sysdefault"
                                  << "alsa";
    QTest::newRow("blanks and brackets") << "Mic (USB) 话筒"
                                         << "pulse";
}

void TestAudioRules::captureInput()
{
    QFETCH(QString, device);
    QFETCH(QString, format);
    const QStringList expected = QStringList { str("-f"), format, str("-i"), device };
    QCOMPARE(CaptureInput::argumentsFor(device), expected);
}

void TestAudioRules::arguments_data()
{
    QTest::addColumn<QStringList>("actual");
    QTest::addColumn<QStringList>("expected");
    const QString odd = str("/tmp/a b/\"会议\" it's.v1.mp3");
    const QString out = str("/app dir/myTmpWAVFiles/2.wav");
    QTest::newRow("recording")
        << FfmpegArgs::recording(words("-f|pulse|-i|Mic (USB)"), str("/app/myWAVFiles/x.wav"))
        << words("-f|pulse|-i|Mic (USB)|-ar|16000|-ac|1|/app/myWAVFiles/x.wav");
    QTest::newRow("conversion keeps odd names whole")
        << FfmpegArgs::conversion(odd, FfmpegArgs::convertedPath(odd))
        << (words("-y|-i")
               << odd
               << words("-acodec|pcm_s16le|-ac|1|-ar|16000|/tmp/a b/\"会议\" it's.v1_16k.wav"));
    QTest::newRow("probe") << FfmpegArgs::probe(odd) << (words("-i") << odd);
    QTest::newRow("probe of raw pcm, any case") << FfmpegArgs::probe(str("/x/talk.PCM"))
                                                << words("-f|s16le|-ar|16000|-ac|1|-i|/x/talk.PCM");
    QTest::newRow("first cut") << FfmpegArgs::cut(odd, 0, out)
                               << (words("-i") << odd << words("-acodec|copy|-ss|0|-t|59") << out);
    QTest::newRow("last cut runs to the end") << FfmpegArgs::cut(
        odd, 118, out, true) << (words("-i") << odd << words("-acodec|copy|-ss|118") << out);
    QTest::newRow("cut of raw pcm") << FfmpegArgs::cut(str("/x/a.pcm"), 118,
        out) << (words("-f|s16le|-ar|16000|-ac|1|-i|/x/a.pcm|-acodec|copy|-ss|118|-t|59") << out);
    QTest::newRow("converted path without suffix")
        << QStringList { FfmpegArgs::convertedPath(str("/rec/talk")) }
        << words("/rec/talk_16k.wav");
    QTest::newRow("converted path of a dotted folder")
        << QStringList { FfmpegArgs::convertedPath(str("/re.c/talk")) }
        << words("/re.c/talk_16k.wav");
}

void TestAudioRules::arguments()
{
    QFETCH(QStringList, actual);
    QFETCH(QStringList, expected);
    QCOMPARE(actual, expected);
}

void TestAudioRules::segmentPlan_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastStart");
    QTest::newRow("59 s") << 59 << 1 << 0;
    QTest::newRow("60 s") << 60 << 2 << 59;
    QTest::newRow("118 s") << 118 << 2 << 59;
    QTest::newRow("125 s") << 125 << 3 << 118;
    QTest::newRow("1:02:03") << 3723 << 64 << 3717;
}

void TestAudioRules::segmentPlan()
{
    QFETCH(int, seconds);
    QFETCH(int, count);
    QFETCH(int, lastStart);
    QCOMPARE(FfmpegArgs::segmentCount(seconds), count);
    QCOMPARE(FfmpegArgs::segmentStart(count - 1), lastStart);
    // No second is left out: the last segment reaches the end, none starts past it.
    QVERIFY(lastStart + FfmpegArgs::segmentSeconds >= seconds);
    QVERIFY(lastStart < seconds);
    QCOMPARE(FfmpegArgs::segmentPath(str("/app"), count - 1),
        QStringLiteral("/app/myTmpWAVFiles/%1.wav").arg(count - 1));
}

void TestAudioRules::duration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("hundredths dropped")
        << "  Duration: 00:00:58.99, start: 0.000000, bitrate: 256 kb/s" << true << 58
        << qint64(58990);
    QTest::newRow("exactly 59") << "Duration: 00:00:59.00, bitrate: 256 kb/s" << true << 59
                                << qint64(59000);
    QTest::newRow("hours") << "Duration: 01:02:03.99, start" << true << 3723 << qint64(3723990);
    QTest::newRow("not available")
        << "  Duration: N/A, start: 0.000000, bitrate: N/A" << true << 0 << qint64(0);
    QTest::newRow("not a number") << "Duration: 0x:1a:05.00, start" << true << 5 << qint64(5000);
    QTest::newRow("no duration") << "Input #0, wav, from 'a.wav':\n  Stream #0:0: Audio" << false
                                 << 0 << qint64(0);
    QTest::newRow("empty") << "" << false << 0 << qint64(0);
    QTest::newRow("lower case") << "  duration: 00:00:10.00," << false << 0 << qint64(0);
    QTest::newRow("word in the file name")
        << "Input #0, wav, from '/t/My Duration: 1.5 take_16k.wav':\n"
           "  Metadata:\n    encoder         : Lavf59\n"
           "  Duration: 00:02:05.00, bitrate: 256 kb/s\n"
        << true << 125 << qint64(125000);
    QTest::newRow("only the word in a file name")
        << "from '/t/Duration:9.wav':" << false << 0 << qint64(0);
    QTest::newRow("tenths") << "Duration: 00:00:07.5, start" << true << 7 << qint64(7500);
    QTest::newRow("crlf lines") << "Input\r\n  Duration: 00:01:00.50, start: 0\r\n"
                                << true << 60 << qint64(60500);
}

void TestAudioRules::duration()
{
    QFETCH(QString, text);
    QFETCH(bool, found);
    QFETCH(int, seconds);
    QFETCH(qint64, ms);
    int parsed = -1;
    qint64 parsedMs = -1;
    QCOMPARE(DurationParser::parseSeconds(text, &parsed), found);
    QCOMPARE(DurationParser::parseMilliseconds(text, &parsedMs), found);
    QCOMPARE(parsed, found ? seconds : -1);
    QCOMPARE(parsedMs, found ? ms : -1);
}

void TestAudioRules::durationLineComplete_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("complete");
    QTest::newRow("label alone, as ffmpeg writes it first") << "Input #0\n  Duration: " << false;
    QTest::newRow("time without line end") << "Input #0\n  Duration: 00:02:05.00" << false;
    QTest::newRow("whole line") << "Input #0\n  Duration: 00:02:05.00, bitrate: 256 kb/s\n" << true;
    QTest::newRow("only a file name") << "from 'Duration: x.wav':\n" << false;
}

void TestAudioRules::durationLineComplete()
{
    QFETCH(QString, text);
    QFETCH(bool, complete);
    QCOMPARE(DurationParser::hasCompleteLine(text), complete);
}

void TestAudioRules::clockText_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "00:00:00";
    QTest::newRow("9") << 9 << "00:00:09";
    QTest::newRow("59") << 59 << "00:00:59";
    QTest::newRow("60") << 60 << "00:01:00";
    QTest::newRow("3599") << 3599 << "00:59:59";
    QTest::newRow("3600") << 3600 << "01:00:00";
    QTest::newRow("86399") << 86399 << "23:59:59";
    QTest::newRow("wraps after a day") << 86400 << "00:00:00";
    QTest::newRow("a day and 1:01:01") << 86400 + 3661 << "01:01:01";
    QTest::newRow("clock set back") << -5 << "00:00:00";
}

void TestAudioRules::clockText()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);
    QCOMPARE(AudioTexts::clockText(seconds), text);
}

void TestAudioRules::playPosition_data()
{
    QTest::addColumn<qint64>("current");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing loaded") << qint64(0) << qint64(0) << "";
    QTest::newRow("start of a known file") << qint64(0) << qint64(200000) << "00:00:00 / 00:03:20";
    QTest::newRow("playing, ms dropped")
        << qint64(65999) << qint64(200000) << "00:01:05 / 00:03:20";
    QTest::newRow("length unknown") << qint64(1500) << qint64(0) << "00:00:01";
    QTest::newRow("longer than a day")
        << qint64(90000000) << qint64(90061000) << "25:00:00 / 25:01:01";
}

void TestAudioRules::playPosition()
{
    QFETCH(qint64, current);
    QFETCH(qint64, total);
    QFETCH(QString, text);
    QCOMPARE(AudioTexts::playPositionText(current, total), text);
}

void TestAudioRules::recordFileNames()
{
    const QDateTime afternoon(QDate(2024, 1, 31), QTime(14, 23, 5));
    const QDateTime morning(QDate(2024, 3, 5), QTime(9, 5, 7));
    const auto nothingTaken = [](const QString &) { return false; };
    QCOMPARE(AudioTexts::recordFilePath(str("D:/tool/myWAVFiles"), afternoon, nothingTaken),
        QStringLiteral("D:/tool/myWAVFiles/240131_142305.wav"));
    QCOMPARE(AudioTexts::recordFilePath(str("/a"), morning, nothingTaken),
        QStringLiteral("/a/240305_090507.wav"));

    // Recordings within the same second each get a name of their own.
    QSet<QString> taken;
    const auto isTaken = [&taken](const QString &path) { return taken.contains(path); };
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        const QString path = AudioTexts::recordFilePath(str("/a"), morning, isTaken);
        taken.insert(path);
        names << path;
    }
    QCOMPARE(names, words("/a/240305_090507.wav|/a/240305_090507_1.wav|/a/240305_090507_2.wav"));
}

void TestAudioRules::wavHeader()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // sox writes the file and counts its samples independently of the header reader.
    const QString path = dir.filePath(QStringLiteral("t.wav"));
    QCOMPARE(QProcess::execute(str("sox"),
                 words("-n|-r|16000|-c|1|-b|16") << path << words("synth|0.75|sine|300")),
        0);
    const WavInfo info = WavInfo::fromFile(path);
    QVERIFY(info.isPcm16kMono());
    QCOMPARE(info.frames(), qint64(12000));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    const int data = bytes.indexOf("data");
    QVERIFY(data > 0);
    // An unfinished header claims more than the file holds.
    QByteArray unfinished = bytes;
    unfinished.replace(data + 4, 4, QByteArray(4, char(0xff)));
    QCOMPARE(WavInfo::fromBytes(unfinished).frames(), qint64(12000));
    QCOMPARE(WavInfo::fromBytes(bytes.left(data + 8 + 100)).dataBytes, qint64(100));
    // Stereo 44.1 kHz is a WAV, but not the one the service takes.
    QByteArray stereo = bytes;
    stereo[22] = 2;
    QVERIFY(WavInfo::fromBytes(stereo).valid);
    QVERIFY(!WavInfo::fromBytes(stereo).isPcm16kMono());
    QVERIFY(!WavInfo::fromBytes("hello text\n").valid);
    QVERIFY(!WavInfo::fromBytes(bytes.left(data)).valid);
    QVERIFY(!WavInfo::fromFile(dir.filePath(QStringLiteral("missing.wav"))).valid);

    // A chunk of odd size before the data is followed by a pad byte that belongs to no chunk.
    QByteArray padded = bytes;
    padded.insert(data, QByteArray("LIST\x03\0\0\0abc\0", 12));
    const WavInfo afterOdd = WavInfo::fromBytes(padded);
    QVERIFY(afterOdd.isPcm16kMono());
    QCOMPARE(afterOdd.dataOffset, qint64(data + 12 + 8));
    QCOMPARE(afterOdd.frames(), qint64(12000));
}

QTEST_APPLESS_MAIN(TestAudioRules)
#include "tst_audiorules.moc"
