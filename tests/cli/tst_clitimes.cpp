// Times through a cut: tovarin-transcribe run as a user runs it on speech with known onsets
// that crosses one cut, against the real speech service, through its token protocol and
// through its transcription API. The subtitles it writes start where the speech does.
#include <QRegularExpression>
#include <QtTest>

#include "common/speechservice.h"
#include "common/testfiles.h"
#include "common/testtime.h"

#include <cstdlib>

using TestFiles::str;

namespace {

// Short sentences, one clip each; the last one starts just after the job's 59-second cut.
const char *const Phrases[] = { "the cat sat on the mat", "open the window please",
    "we walked down to the river", "my brother plays the piano", "the train leaves at noon",
    "she reads a book every night", "turn left at the corner", "the coffee is too hot",
    "bring me the red box", "the meeting starts tomorrow morning" };
// Where each clip begins, in seconds; silence between them.
const double ClipStarts[] = { 1.0, 7.0, 13.0, 19.0, 25.0, 31.0, 37.0, 43.0, 49.0, 59.4 };
const double CutSeconds = 59;

struct Cue
{
    double start = 0;
    double end = 0;
};

double srtSeconds(const QRegularExpressionMatch &m, int first)
{
    return m.captured(first).toInt() * 3600 + m.captured(first + 1).toInt() * 60
        + m.captured(first + 2).toInt() + m.captured(first + 3).toInt() / 1000.0;
}

QVector<Cue> readCues(const QString &srt)
{
    static const QRegularExpression timing(
        QStringLiteral("^(\\d+):(\\d\\d):(\\d\\d),(\\d{3}) --> (\\d+):(\\d\\d):(\\d\\d),(\\d{3})$"),
        QRegularExpression::MultilineOption);
    QVector<Cue> cues;
    for (auto it = timing.globalMatch(srt); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        cues.append({ srtSeconds(m, 1), srtSeconds(m, 5) });
    }
    return cues;
}

} // namespace

class TestCliTimes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cueStartsAtTheOnsets_data();
    void cueStartsAtTheOnsets();
    void spanIsHeardInTheFilesTime();

private:
    // tovarin-transcribe run as a user runs it, away from the user's settings and kept runs;
    // its standard error when it did not end with 0.
    QString transcribe(const QStringList &arguments);
    QTemporaryDir dir;
    QString speech; // the clips joined by silences
    QVector<double> onsets; // where each clip's speech begins, in seconds
    SpeechServiceProcess service;
};

void TestCliTimes::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(service.start(), qPrintable(service.logText()));
    QStringList inputs;
    QString filter;
    const int count = int(std::size(Phrases));
    for (int k = 0; k < count; ++k) {
        const QString text = dir.filePath(str("%1.txt").arg(k));
        const QString clip = dir.filePath(str("%1.wav").arg(k));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Phrases[k]) > 0);
        file.close();
        QVERIFY(makeSpeechWav(text, clip));
        // The speech begins at the clip's first loud sample (16 kHz, 16-bit mono).
        const QByteArray samples = TestFiles::samples(clip);
        const auto *values = reinterpret_cast<const qint16 *>(samples.constData());
        const int total = samples.size() / 2;
        int first = 0;
        while (first < total && std::abs(values[first]) < 1000)
            ++first;
        QVERIFY(first < total);
        onsets.append(ClipStarts[k] + first / 16000.0);
        // Each clip ends before the next begins, and none runs over the cut.
        const double end = ClipStarts[k] + total / 16000.0;
        const double next = k + 1 < count ? ClipStarts[k + 1] : end + 1.5;
        QVERIFY2(
            end + 1 < next && (ClipStarts[k] >= CutSeconds || end + 1 < CutSeconds), Phrases[k]);
        inputs << str("-i") << clip;
        filter += str("[%1]apad=whole_dur=%2[a%1];").arg(k).arg(next - ClipStarts[k]);
    }
    QVERIFY(onsets.last() - CutSeconds < 1.0); // right after the cut
    // The first clip's lead-in of silence, then the clips, each padded up to the next one.
    filter
        = str("anullsrc=r=16000:cl=mono:d=%1[lead];").arg(ClipStarts[0]) + filter + str("[lead]");
    for (int k = 0; k < count; ++k)
        filter += str("[a%1]").arg(k);
    filter += str("concat=n=%1:v=0:a=1").arg(count + 1);
    speech = dir.filePath(str("talk.wav"));
    QVERIFY(TestFiles::make(speech, QStringList { str("-filter_complex"), filter } + inputs));
    QFile key(dir.filePath(str("key")));
    QVERIFY(key.open(QIODevice::WriteOnly) && key.write("Gf5tQw2LzN8kRm4VxHp7Cs9JdT3bYe6W\n") > 0);
}

void TestCliTimes::cueStartsAtTheOnsets_data()
{
    QTest::addColumn<QStringList>("kind");
    QTest::addColumn<QString>("request"); // the service's log line of each segment's request
    QTest::newRow("token protocol") << QStringList() << str("POST /server_api status=200");
    QTest::newRow("transcription API") << QStringList { str("--service-kind"),
        str("transcriptions"), str("--secret-file"), dir.filePath(str("key")) }
                                       << str("POST /v1/audio/transcriptions status=200");
}

void TestCliTimes::cueStartsAtTheOnsets()
{
    QFETCH(QStringList, kind);
    QFETCH(QString, request);
    const int requestsBefore = service.logText().count(request);
    const QString out = dir.filePath(str("out %1").arg(str(QTest::currentDataTag())));
    const QString failure
        = transcribe(kind + QStringList { str("-f"), str("srt"), str("-o"), out, speech });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // Two segments, each sent the way the row says.
    QTRY_COMPARE_WITH_TIMEOUT(service.logText().count(request) - requestsBefore, 2, 10000);

    const QString srt = QString::fromUtf8(TestFiles::readAll(out + str("/talk.srt")));
    const QVector<Cue> cues = readCues(srt);
    QVERIFY2(!cues.isEmpty(), qPrintable(srt));
    // In time order, none over the next, each 1 to 7 seconds on screen (the clips leave room).
    for (int i = 0; i < cues.size(); ++i) {
        const double shown = cues[i].end - cues[i].start;
        QVERIFY2(shown >= 1 - 1e-9 && shown <= 7 + 1e-9, qPrintable(srt));
        if (i > 0)
            QVERIFY2(cues[i].start >= cues[i - 1].end, qPrintable(srt));
    }
    // Each clip's speech has a cue that starts with it; nine in ten at least.
    int found = 0;
    QStringList errors;
    for (const double onset : onsets) {
        double nearest = 1e9;
        for (const Cue &cue : cues)
            nearest = qAbs(cue.start - onset) < qAbs(nearest) ? cue.start - onset : nearest;
        found += qAbs(nearest) <= 0.5 ? 1 : 0;
        errors << QString::number(nearest, 'f', 3);
    }
    qInfo("onset errors, s: %s", qPrintable(errors.join(str(" "))));
    QVERIFY2(found >= 9, qPrintable(srt));
    // The clip after the cut is among them: the second segment's times are placed in the file.
    double after = 1e9;
    for (const Cue &cue : cues)
        after = qMin(after, qAbs(cue.start - onsets.last()));
    QVERIFY2(after <= 0.5, qPrintable(srt));
}

QString TestCliTimes::transcribe(const QStringList &arguments)
{
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(str("TMPDIR"), dir.path());
    // Neither the user's settings nor what runs keep for resuming.
    env.insert(str("XDG_CONFIG_HOME"), dir.filePath(str("config")));
    env.insert(str("XDG_DATA_HOME"), dir.filePath(str("data")));
    env.remove(str("TOVARIN_SERVICE_SECRET"));
    run.setProcessEnvironment(env);
    run.start(str(TOVARIN_TRANSCRIBE),
        QStringList { str("-q"), str("-l"), str("en"), str("-s"), service.baseUrl() } + arguments);
    if (!run.waitForFinished(scaledMs(180000)))
        return str("did not end");
    if (run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0)
        return QString();
    return str("exit %1: %2").arg(run.exitCode()).arg(str(run.readAllStandardError()));
}

void TestCliTimes::spanIsHeardInTheFilesTime()
{
    // From just before the third clip to just after the fifth ends.
    const double from = 12.0, to = 30.5;
    const QString out = dir.filePath(str("span"));
    const QString failure = transcribe({ str("--from"), str("00:00:12"), str("--to"),
        str("00:00:30.500"), str("-f"), str("json,srt"), str("-o"), out, speech });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QJsonObject json
        = QJsonDocument::fromJson(TestFiles::readAll(out + str("/talk.json"))).object();
    const QJsonArray segments = json.value(str("segments")).toArray();
    QCOMPARE(segments.size(), 1);
    QCOMPARE(segments.first()[str("start")].toDouble(), from);
    QVERIFY(qAbs(segments.first()[str("end")].toDouble() - to) < 0.05);
    const QJsonArray utterances = json.value(str("utterances")).toArray();
    QVERIFY(!utterances.isEmpty());
    for (const QJsonValue &u : utterances)
        QVERIFY(u[str("start")].toDouble() >= from && u[str("end")].toDouble() <= to + 0.001);
    // The three clips of the span are there at their own onsets in the file, and no other.
    const QVector<Cue> cues
        = readCues(QString::fromUtf8(TestFiles::readAll(out + str("/talk.srt"))));
    for (int k = 0; k < onsets.size(); ++k) {
        double nearest = 1e9;
        for (const Cue &cue : cues)
            nearest = qMin(nearest, qAbs(cue.start - onsets[k]));
        if (k >= 2 && k <= 4)
            QVERIFY2(nearest <= 0.5, qPrintable(str("clip %1 off by %2 s").arg(k).arg(nearest)));
        else
            QVERIFY2(nearest > 2, qPrintable(str("clip %1 outside the span").arg(k)));
    }
}

QTEST_GUILESS_MAIN(TestCliTimes)
#include "tst_clitimes.moc"
