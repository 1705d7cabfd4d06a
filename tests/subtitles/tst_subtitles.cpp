#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "subtitles/cues.h"
#include "subtitles/textwidth.h"
#include "subtitles/writers.h"

using namespace subtitles;

namespace {

// Every cue within the conventions, in order and without overlap.
void checkConventions(const std::vector<Cue> &cues)
{
    const CueRules rules;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        const Cue &cue = cues[i];
        QVERIFY(!cue.lines.empty());
        QVERIFY(cue.lines.size() <= rules.maxLines);
        for (const std::string &line : cue.lines)
            QVERIFY2(codePointCount(line) <= lineLimit(line), line.c_str());
        QVERIFY(cue.endMs - cue.startMs >= rules.minDurationMs);
        QVERIFY(cue.endMs - cue.startMs <= rules.maxDurationMs);
        if (i > 0)
            QVERIFY(cue.startMs >= cues[i - 1].endMs);
    }
}

std::string joined(const std::vector<Cue> &cues, const char *separator)
{
    std::string text;
    for (const Cue &cue : cues)
        for (const std::string &line : cue.lines)
            text += (text.empty() ? "" : separator) + line;
    return text;
}

} // namespace

class TestSubtitles : public QObject
{
    Q_OBJECT

private slots:
    void lineBreaks_data();
    void lineBreaks();
    void mixedTokenCutToBothLimits();
    void timesFollowWordsOrCharacters();
    void durationsAndOverlap();
    void writers();
    void ffmpegReadsWhatIsWritten();
};

void TestSubtitles::lineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("spaced"); // whether the lines join back with spaces
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("latin at word boundaries")
        << QStringLiteral("the quick brown fox jumps over the lazy dog and keeps running far "
                          "away into the night while the farmer sleeps soundly in his bed")
        << true << QStringLiteral("the quick brown fox jumps over the lazy");
    QTest::newRow("chinese, 16 a line, punctuation kept with its character")
        << QStringLiteral(
               "今天天气很好,我们去公园散步吧。然后在湖边的小咖啡馆里喝一杯热茶,看看风景。")
        << false << QStringLiteral("今天天气很好,我们去公园散步吧。");
    QTest::newRow("a word longer than a line") << QStringLiteral(
        "see https://example.org/a/very/long/address/that/never/ends/in/one/line ok")
                                               << false << QStringLiteral("see");
}

void TestSubtitles::lineBreaks()
{
    QFETCH(QString, text);
    QFETCH(bool, spaced);
    QFETCH(QString, firstLine);
    const std::vector<Cue> cues = layoutCues({ { 0, 9000, text.toStdString(), {} } });
    checkConventions(cues);
    QCOMPARE(QString::fromStdString(cues.front().lines.front()), firstLine);
    QString back = QString::fromStdString(joined(cues, spaced ? " " : ""));
    if (!spaced) {
        text.remove(QLatin1Char(' '));
        back.remove(QLatin1Char(' '));
    }
    QCOMPARE(back, text);
}

void TestSubtitles::mixedTokenCutToBothLimits()
{
    // Lines of Latin narrower than lines of CJK: no piece of a mixed token is wider than its own.
    CueRules rules;
    rules.latinLineChars = 3;
    rules.cjkLineChars = 8;
    const std::vector<Cue> cues = layoutCues({ { 0, 9000, "abcdefghijkl中文", {} } }, rules);
    for (const Cue &cue : cues)
        for (const std::string &line : cue.lines)
            QVERIFY2(codePointCount(line) <= lineLimit(line, rules), line.c_str());
    QCOMPARE(QString::fromStdString(joined(cues, "")).remove(QLatin1Char(' ')),
        QStringLiteral("abcdefghijkl中文"));
}

void TestSubtitles::timesFollowWordsOrCharacters()
{
    // too many words for one cue; every cut lands on the start of a word
    Utterance spoken { 10000, 20000,
        "One, two three four five six seven eight nine ten eleven "
        "twelve thirteen fourteen fifteen sixteen.",
        {} };
    const QStringList names = QStringLiteral("one two three four five six seven eight nine ten "
                                             "eleven twelve thirteen fourteen fifteen sixteen")
                                  .split(QLatin1Char(' '));
    for (int i = 0; i < names.size(); ++i)
        spoken.words.push_back({ 10000 + i * 600, 10000 + i * 600 + 400, names[i].toStdString() });
    std::vector<Cue> cues = layoutCues({ spoken });
    checkConventions(cues);
    QVERIFY(cues.size() >= 2);
    for (const Cue &cue : cues) {
        const QString first = QString::fromStdString(cue.lines.front())
                                  .section(QLatin1Char(' '), 0, 0)
                                  .remove(QLatin1Char(','))
                                  .toLower();
        QCOMPARE(cue.startMs, std::int64_t(10000 + names.indexOf(first) * 600));
    }
    QCOMPARE(cues.back().endMs, std::int64_t(10000 + 15 * 600 + 400));

    // without words, the time is shared by characters: 30 CJK characters over 6 s
    const std::string thirty = u8"一二三四五六七八九十一二三四五六七八九十一二三四五六七八九十";
    cues = layoutCues({ { 0, 6000, thirty, {} } });
    QCOMPARE(cues.size(), std::size_t(1));
    QCOMPARE(cues[0].lines.size(), std::size_t(2));
    QCOMPARE(codePointCount(cues[0].lines[0]), std::size_t(16));
    const std::vector<TimedToken> tokens = timedTokens({ 0, 6000, thirty, {} });
    QCOMPARE(tokens.size(), std::size_t(30));
    QCOMPARE(tokens[16].startMs, std::int64_t(3200));
}

void TestSubtitles::durationsAndOverlap()
{
    // a short word, another just after it, a long one, and one given out of order
    std::vector<Cue> cues = layoutCues({ { 300, 500, "yes", {} }, { 700, 900, "no", {} },
        { 20000, 35000, "hum", {} }, { 5000, 6000, "later", {} } });
    checkConventions(cues);
    QCOMPARE(cues.size(), std::size_t(4));
    QCOMPARE(cues[0].startMs, std::int64_t(300));
    QCOMPARE(cues[0].endMs, std::int64_t(1300)); // held for a second
    QCOMPARE(cues[1].startMs, std::int64_t(1300)); // so the next waits for it
    QCOMPARE(cues[2].lines.front(), std::string("later"));
    QCOMPARE(cues[3].startMs, std::int64_t(20000));
    QCOMPARE(cues[3].endMs, std::int64_t(27000));
    // a long utterance without word times is cut in cues of at most seven seconds
    std::string many;
    for (int i = 0; i < 12; ++i)
        many += "word ";
    cues = layoutCues({ { 0, 30000, many, {} } });
    checkConventions(cues);
    QVERIFY(cues.size() >= 5);
}

void TestSubtitles::writers()
{
    const std::vector<Cue> cues { { 1000, 2500, { "first line", "second <b> & -->" } },
        { 3723456, 3725000, { "past an hour" } } };
    QCOMPARE(writeSrt(cues),
        std::string("1\n00:00:01,000 --> 00:00:02,500\nfirst line\n"
                    "second <b> & -->\n\n2\n01:02:03,456 --> 01:02:05,000\n"
                    "past an hour\n\n"));
    QCOMPARE(writeVtt(cues),
        std::string("WEBVTT\n\n00:00:01.000 --> 00:00:02.500\nfirst line\n"
                    "second &lt;b&gt; &amp; --&gt;\n\n"
                    "01:02:03.456 --> 01:02:05.000\npast an hour\n\n"));
}

void TestSubtitles::ffmpegReadsWhatIsWritten()
{
    const std::vector<Cue> cues = layoutCues(
        { { 500, 2000, "hello world", {} }, { 61000, 64000, std::string(u8"你好,世界"), {} } });
    QTemporaryDir dir;
    for (const char *format : { "srt", "vtt" }) {
        const QString input = dir.filePath(QStringLiteral("in.") + QLatin1String(format));
        QFile file(input);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(
            std::string(format) == "srt" ? writeSrt(cues) : writeVtt(cues)));
        file.close();
        const QString output
            = dir.filePath(QStringLiteral("out-") + QLatin1String(format) + QStringLiteral(".ass"));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
            { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), input,
                QStringLiteral("-y"), output });
        QVERIFY(ffmpeg.waitForFinished(60000));
        QCOMPARE(ffmpeg.exitCode(), 0);
        QFile ass(output);
        QVERIFY(ass.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(ass.readAll());
        QVERIFY2(text.contains(QStringLiteral("0:00:00.50,0:00:02.00,Default,,0,0,0,,hello world")),
            qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("0:01:01.00,0:01:04.00,Default,,0,0,0,,你好,世界")));
    }
}

QTEST_APPLESS_MAIN(TestSubtitles)
#include "tst_subtitles.moc"
