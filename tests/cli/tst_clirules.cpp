// The command line's rules without running anything: arguments, inputs, output names, the JSON
// format and the progress figures.
#include <QtTest>

#include <json/reader.h>
#include <json/value.h>

#include "cli/cliarguments.h"
#include "cli/inputfiles.h"
#include "cli/jsontranscript.h"
#include "cli/outputplan.h"
#include "cli/progresstexts.h"
#include "cli/servicechoice.h"
#include "core/wholefile.h"

using CliArgumentRules::parse;

namespace {
const QString defaultService = QStringLiteral("http://127.0.0.1:18765");

QString str(const char *text)
{
    return QString::fromUtf8(text);
}

// "a|b c|d" as {"a", "b c", "d"}; "" as no arguments.
QStringList args(const char *text)
{
    const QString all = str(text);
    return all.isEmpty() ? QStringList() : all.split(QLatin1Char('|'));
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}
} // namespace

class TestCliRules : public QObject
{
    Q_OBJECT

private slots:
    void acceptedArguments_data();
    void acceptedArguments();
    void refusedArguments_data();
    void formatList();
    void refusedArguments();
    void helpHasExamples();
    void inputsFromFilesAndFolders();
    void outputPlan();
    void jsonTranscript();
    void progressFigures();
    void wholeFileNeverThroughALink();
    void builtInAddressIsProvenHoweverNamed();
};

void TestCliRules::acceptedArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("outputDir");
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("flags"); // --overwrite, -r and -q together

    const QString near = str("中文近场");
    const QString english = str("英文");
    QTest::newRow("defaults: the window's first item, the build-time address")
        << args("a.mp3") << args("a.mp3") << near << defaultService << QString() << false << 1
        << false;
    QTest::newRow("short name, any case") << args("-l|EN|a.mp3") << args("a.mp3") << english
                                          << defaultService << QString() << false << 1 << false;
    QTest::newRow("item text") << args("--language=粤语|a.mp3") << args("a.mp3") << str("粤语")
                               << defaultService << QString() << false << 1 << false;
    QTest::newRow("dev_pid") << args("--language|1936|a.mp3") << args("a.mp3") << str("中文远场")
                             << defaultService << QString() << false << 1 << false;
    QTest::newRow("everything") << args(
        "-l|zh-sc|-s|http://asr.example:9000/|-o|out dir|-f|JSON|-j|4|--overwrite|-r|-q|"
        "a b.mp3|录音") << args("a b.mp3|录音")
                                << str("四川话") << str("http://asr.example:9000") << str("out dir")
                                << true << 4 << true;
    QTest::newRow("names after -- may start with dashes")
        << args("-l|en|--|-talk.mp3|--help") << args("-talk.mp3|--help") << english
        << defaultService << QString() << false << 1 << false;
}

void TestCliRules::acceptedArguments()
{
    QFETCH(QStringList, arguments);
    const CliArguments result = parse(arguments, defaultService);
    QCOMPARE(result.outcome, CliArguments::Run);
    const CliOptions &options = result.options;
    QTEST(options.inputs, "inputs");
    QTEST(options.language, "language");
    QTEST(options.serviceUrl, "service");
    QTEST(options.outputDir, "outputDir");
    QTEST(options.format == CliOptions::Json, "json");
    QTEST(options.jobs, "jobs");
    QFETCH(bool, flags);
    QCOMPARE(options.overwrite, flags);
    QCOMPARE(options.recursive, flags);
    QCOMPARE(options.quiet, flags);
}

void TestCliRules::refusedArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");

    QTest::newRow("nothing") << args("") << str("no files");
    QTest::newRow("unknown option") << args("--fast|a.mp3") << str("fast");
    QTest::newRow("option without its value") << args("a.mp3|--language") << str("language");
    QTest::newRow("unknown language") << args("-l|de|a.mp3") << str("'de'");
    QTest::newRow("dev_pid of no language") << args("-l|1738|a.mp3") << str("'1738'");
    QTest::newRow("blank-padded item text") << args("-l| 英文|a.mp3") << str("unknown language");
    QTest::newRow("format") << args("-f|txt,ass|a.mp3") << str("'ass'");
    QTest::newRow("empty format in the list") << args("-f|txt,,srt|a.mp3") << str("''");
    QTest::newRow("no jobs") << args("-j|0|a.mp3") << str("--jobs");
    QTest::newRow("too many jobs") << args("-j|33|a.mp3") << str("--jobs");
    QTest::newRow("jobs not a number") << args("-j|two|a.mp3") << str("--jobs");
    QTest::newRow("service not http") << args("-s|ftp://host|a.mp3") << str("ftp://host");
    QTest::newRow("service without host") << args("-s|http://|a.mp3") << str("http://");
    QTest::newRow("empty output folder") << args("-o||a.mp3") << str("output folder");
    QTest::newRow("empty file name") << args("") + QStringList { QString() } << str("empty");
    QTest::newRow("a value given twice") << args("-l|en|-l|zh|a.mp3") << str("more than once");
    QTest::newRow("time without hours") << args("--from|01:30|a.mp3") << str("'01:30'");
    QTest::newRow("minutes past 59") << args("--to|0:60:00|a.mp3") << str("'0:60:00'");
    QTest::newRow("four fraction digits") << args("--to|0:00:01.2500|a.mp3") << str("--to");
    QTest::newRow("from not before to")
        << args("--from|0:00:05|--to|0:00:05|a.mp3") << str("not before");
    QTest::newRow("live with files") << args("--live|a.mp3") << str("no files");
    QTest::newRow("a device without live") << args("--device|hw:1|a.mp3") << str("--live");
    QTest::newRow("an empty device") << args("--live|--device|") << str("device name");
}

void TestCliRules::formatList()
{
    const CliOptions options = parse(args("-f|vtt,TXT,srt,vtt|a.mp3"), defaultService).options;
    QCOMPARE(options.formats,
        (QList<CliOptions::Format> { CliOptions::Vtt, CliOptions::Text, CliOptions::Srt }));
    QCOMPARE(options.format, CliOptions::Vtt);
    // A span's ends to the millisecond, a fraction counting as the decimals it is; either alone.
    const CliOptions span
        = parse(args("--from|1:02:03.5|--to|10:00:00.025|a.mp3"), defaultService).options;
    QCOMPARE(span.fromMs, qint64(3723500));
    QCOMPARE(span.toMs, qint64(36000025));
    QCOMPARE(parse(args("--to|00:00:07|a.mp3"), defaultService).options.fromMs, qint64(0));
    QCOMPARE(parse(args("--from|00:00:07|a.mp3"), defaultService).options.toMs, qint64(-1));
    QCOMPARE(OutputPlanRules::transcriptPath(str("/in/talk.mp3"), str("/out"), CliOptions::Srt),
        str("/out/talk.srt"));
}

void TestCliRules::refusedArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    const CliArguments result = parse(arguments, defaultService);
    QCOMPARE(result.outcome, CliArguments::Usage);
    QVERIFY2(result.text.contains(says), qPrintable(result.text));
    QVERIFY(result.text.contains(str("--help")));
}

void TestCliRules::helpHasExamples()
{
    const CliArguments help = parse(args("a.mp3|--help"), defaultService);
    QCOMPARE(help.outcome, CliArguments::Help);
    QVERIFY(help.text.startsWith(str("Usage: tovarin-transcribe ")));
    // Held here: a temporary's bytes in the list below would be gone before the loop reads them.
    const QByteArray service = defaultService.toUtf8();
    for (const char *part :
        { "--language", "--service", "--output-dir", "--overwrite", "--format", "--jobs",
            "--recursive", "--quiet", "Examples:", "Exit status", service.constData(), "1737" })
        QVERIFY2(help.text.contains(str(part)), part);
    QCOMPARE(parse(args("-v"), defaultService).outcome, CliArguments::Version);
}

void TestCliRules::inputsFromFilesAndFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(QDir(root).mkpath(str("rec/sub")));
    for (const char *name : { "rec/b talk.MP3", "rec/a.wav", "rec/notes.txt", "rec/.hidden.wav",
             "rec/sub/c.m4a", "会议 \"一\".wav", "-dash.mp3", "clip.xyz" })
        QVERIFY(touch(root + QLatin1Char('/') + str(name)));
    QVERIFY(QFile::link(root + str("/rec/a.wav"), root + str("/link.wav")));
    QVERIFY(QDir::setCurrent(root));

    // A folder gives its media files by name; a file named outright counts whatever its suffix;
    // a file reached twice, through a link or a folder, runs once.
    const InputFiles flat = InputFileRules::collect(
        args("rec|./-dash.mp3|会议 \"一\".wav|clip.xyz|link.wav|rec/b talk.MP3"), false);
    QCOMPARE(flat.problems, QStringList());
    QCOMPARE(flat.files,
        QStringList({ root + str("/rec/a.wav"), root + str("/rec/b talk.MP3"),
            root + str("/-dash.mp3"), root + str("/会议 \"一\".wav"), root + str("/clip.xyz") }));
    QCOMPARE(flat.duplicates, args("link.wav|rec/b talk.MP3"));

    const InputFiles deep = InputFileRules::collect(args("rec"), true);
    QCOMPARE(deep.files.size(), 3);
    QVERIFY(deep.files.contains(root + str("/rec/sub/c.m4a")));

    const InputFiles bad = InputFileRules::collect(args("rec|missing.mp3|/dev/null"), false);
    QCOMPARE(bad.problems.size(), 2);
    QVERIFY(bad.problems.at(0).contains(str("missing.mp3")));
    QVERIFY(bad.problems.at(1).contains(str("/dev/null")));
}

void TestCliRules::outputPlan()
{
    const QStringList inputs = args("/in/talk.mp3|/in/talk.wav|/in/b/x.1.m4a|/in/notes.txt");
    const QSet<QString> existing = { str("/in/b/x.1.txt") };
    const auto exists = [&](const QString &path) { return existing.contains(path); };

    const QList<PlannedFile> beside
        = OutputPlanRules::plan(inputs, QString(), { CliOptions::Text }, false, exists);
    QCOMPARE(beside.size(), 4);
    QCOMPARE(beside.at(0).transcript, str("/in/talk.txt"));
    QCOMPARE(beside.at(0).action, PlannedFile::Transcribe);
    // Two inputs with one transcript name: the later one is not transcribed over the first.
    QCOMPARE(beside.at(1).action, PlannedFile::Clash);
    QCOMPARE(beside.at(1).clashWith, str("/in/talk.mp3"));
    QCOMPARE(beside.at(2).transcript, str("/in/b/x.1.txt"));
    QCOMPARE(beside.at(2).action, PlannedFile::Skip);
    // A transcript never replaces an input.
    QCOMPARE(beside.at(3).action, PlannedFile::Clash);
    QCOMPARE(beside.at(3).clashWith, str("/in/notes.txt"));

    const QList<PlannedFile> json
        = OutputPlanRules::plan(inputs.mid(2, 1), str("/out/"), { CliOptions::Json }, true, exists);
    QCOMPARE(json.at(0).transcript, str("/out/x.1.json"));
    QCOMPARE(json.at(0).action, PlannedFile::Transcribe);
    const QList<PlannedFile> overwrite
        = OutputPlanRules::plan(inputs.mid(2, 1), QString(), { CliOptions::Text }, true, exists);
    QCOMPARE(overwrite.at(0).action, PlannedFile::Transcribe);

    // Every format's file counts, not only the first's: a subtitle file that would replace an
    // input named outright, and a JSON file that exists.
    const QList<PlannedFile> several = OutputPlanRules::plan(args("/in/a.mp3|/in/a.srt|/in/c.wav"),
        QString(), { CliOptions::Text, CliOptions::Srt, CliOptions::Json }, false,
        [](const QString &path) { return path == str("/in/c.json"); });
    QCOMPARE(several.at(0).action, PlannedFile::Clash);
    QCOMPARE(several.at(0).transcript, str("/in/a.srt"));
    QCOMPARE(several.at(0).clashWith, str("/in/a.srt"));
    QCOMPARE(several.at(2).action, PlannedFile::Skip);
    QCOMPARE(several.at(2).transcript, str("/in/c.json"));
}

void TestCliRules::jsonTranscript()
{
    JsonTranscript transcript;
    transcript.file = str("/in/会议.mp3");
    transcript.language = str("英文");
    transcript.service = defaultService;
    transcript.segments = { { 0, 59, str("hello there") }, { 59, 61.4000001, QString() },
        { 118, 130.25, str("引号 \" and\nbreak") } };
    const QByteArray body = JsonTranscriptRules::build(transcript, str("hello there\n"));
    QVERIFY(body.contains("\"file\" : \"/in/会议.mp3\"")); // UTF-8 as it is, not escaped
    QVERIFY(body.endsWith("}\n"));

    Json::Value root;
    QVERIFY(Json::Reader().parse(body.toStdString(), root));
    QCOMPARE(root["dev_pid"].asInt(), 1737);
    QCOMPARE(QString::fromStdString(root["service"].asString()), defaultService);
    QCOMPARE(QString::fromUtf8(root["language"].asCString()), str("英文"));
    QCOMPARE(QString::fromUtf8(root["text"].asCString()), str("hello there\n"));
    const Json::Value &segments = root["segments"];
    QCOMPARE(int(segments.size()), 3);
    QCOMPARE(segments[1]["start"].asDouble(), 59.0);
    QCOMPARE(segments[1]["end"].asDouble(), 61.4);
    QCOMPARE(segments[1]["text"].asString(), std::string());
    QCOMPARE(QString::fromUtf8(segments[2]["text"].asCString()), str("引号 \" and\nbreak"));
}

void TestCliRules::progressFigures()
{
    RunProgress progress;
    progress.fileCount = 4;
    progress.filesEnded = 1;
    progress.runningFraction = 0.5 + 0.5; // two files half done
    progress.fileNumber = 3;
    progress.fileName = str("会议.mp3");
    progress.segment = 2;
    progress.segmentCount = 4;
    progress.elapsedMs = 60000;
    QCOMPARE(ProgressTexts::fractionDone(progress), 0.5);
    QCOMPARE(ProgressTexts::remainingMs(60000, 0.5), qint64(60000));
    QCOMPARE(ProgressTexts::remainingMs(60000, 0.0), qint64(-1));
    QCOMPARE(ProgressTexts::remainingMs(0, 0.5), qint64(-1));
    QCOMPARE(ProgressTexts::remainingMs(60000, 1.0), qint64(0));

    QCOMPARE(ProgressTexts::line(progress),
        str("[3/4] 会议.mp3: segment 2 of 4, 00:01:00 elapsed, about 00:01:00 left"));
    QCOMPARE(ProgressTexts::bar(progress, 30).size(), 30);

    progress.segment = 0;
    progress.filesEnded = 0;
    progress.runningFraction = 0;
    QCOMPARE(ProgressTexts::line(progress), str("[3/4] 会议.mp3: preparing, 00:01:00 elapsed"));

    RunSummary summary;
    summary.done = 2;
    summary.skipped = 1;
    summary.failures = { { str("/in/a b.mp3"), str("音频转换失败，请检查文件是否完整！") } };
    QCOMPARE(ProgressTexts::summary(summary),
        str("done 2, skipped 1, failed 1\nfailed: /in/a b.mp3: "
            "音频转换失败，请检查文件是否完整！\n"));
}

// A link swapped in at the name between the last check and the rename replaces nothing of
// the user's: the rename puts the new file in the link's place, with the old file's mode. A
// link already there, live or dangling, is refused.
void TestCliRules::wholeFileNeverThroughALink()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString other = dir.filePath(str("other.txt"));
    const QString target = dir.filePath(str("out.txt"));
    QVERIFY(touch(other));
    QVERIFY(touch(target));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));

    const WholeFile::Outcome raced = WholeFile::replace(
        target, "new", [&] { QVERIFY(QFile::remove(target) && QFile::link(other, target)); });
    QCOMPARE(int(raced), int(WholeFile::Outcome::Written));
    QFile read(other);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(), QByteArray("x"));
    QVERIFY(!QFileInfo(target).isSymLink());
    QFile written(target);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("new"));
    QVERIFY(!(written.permissions() & (QFile::ReadGroup | QFile::ReadOther)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

    QVERIFY(QFile::remove(target) && QFile::link(other, target));
    QCOMPARE(int(WholeFile::replace(target, "new")), int(WholeFile::Outcome::IsLink));
    QVERIFY(QFile::link(dir.filePath(str("nowhere")), dir.filePath(str("dangling.txt"))));
    QCOMPARE(int(WholeFile::replace(dir.filePath(str("dangling.txt")), "new")),
        int(WholeFile::Outcome::IsLink));
    QVERIFY(!QFileInfo::exists(dir.filePath(str("nowhere"))));
    QVERIFY(read.seek(0));
    QCOMPARE(read.readAll(), QByteArray("x"));
}

// The built-in address gets the service's proof however it is named and for either protocol;
// another address, local or not, is asked as it is.
void TestCliRules::builtInAddressIsProvenHoweverNamed()
{
    const auto proven = [](const char *arguments, const char *savedUrl) {
        const CliArguments parsed = parse(args(arguments), defaultService);
        ServiceSettings saved;
        saved.url = str(savedUrl);
        return ServiceChoiceRules::choose(parsed.options, saved, defaultService).startLocalService;
    };
    QVERIFY(proven("a.wav", ""));
    QVERIFY(proven("--service-kind|transcriptions|a.wav", ""));
    QVERIFY(proven("--service|http://localhost:18765/|a.wav", ""));
    QVERIFY(proven("a.wav", "http://127.0.0.1:18765"));
    QVERIFY(proven("--service|http://[::1]:18765|a.wav", "http://127.0.0.1:9000"));
    QVERIFY(!proven("a.wav", "http://127.0.0.1:9000"));
    QVERIFY(!proven("--service|https://127.0.0.1:18765|a.wav", ""));
}

QTEST_GUILESS_MAIN(TestCliRules)
#include "tst_clirules.moc"
