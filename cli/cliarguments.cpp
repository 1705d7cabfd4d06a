#include "cli/cliarguments.h"

#include "asr/recognitionrequest.h"
#include "core/chinesescript.h"
#include "core/clocktime.h"

#include <QCommandLineParser>
#include <QUrl>

namespace {
// In the order of CliOptions::Format.
const QStringList &formatNames()
{
    static const QStringList names { QStringLiteral("txt"), QStringLiteral("json"),
        QStringLiteral("srt"), QStringLiteral("vtt") };
    return names;
}
} // namespace

namespace CliArgumentRules {

namespace {

QString languageChoices()
{
    QStringList choices;
    for (const RecognitionLanguage &language : recognitionLanguages()) {
        choices << QStringLiteral("%1 (%2, %3)")
                       .arg(language.shortName, language.text)
                       .arg(language.devPid);
    }
    return choices.join(QStringLiteral(", "));
}

QString examples(const QString &programName)
{
    const QString lines[] = {
        QStringLiteral("Examples:"),
        QStringLiteral("  %1 --language en talk.mp3"),
        QStringLiteral("      writes talk.txt beside talk.mp3"),
        QStringLiteral("  %1 -l en -r -j 2 -o transcripts ~/recordings"),
        QStringLiteral("      every audio and video file below ~/recordings, two at a time,"),
        QStringLiteral("      transcripts into ./transcripts"),
        QStringLiteral("  %1 -l 1737 --format json --overwrite -- -interview.wav"),
        QStringLiteral("      JSON with each segment's times; \"--\" ends the options"),
        QStringLiteral("  %1 -q -s http://asr.example.net:18765 -l zh meeting.m4a || echo failed"),
        QStringLiteral("  %1 --live -l en -f txt,srt -o notes"),
        QStringLiteral(
            "      records the default input, prints the text as it is said; Ctrl+C ends"),
        QStringLiteral(""),
        QStringLiteral("Exit status: 0 all done (skips included), 1 a file failed, 2 bad usage,"),
        QStringLiteral("130 or 143 ended by SIGINT or SIGTERM."),
    };
    QString text;
    for (QString line : lines)
        text += line.replace(QStringLiteral("%1"), programName) + QLatin1Char('\n');
    return text;
}

CliArguments usage(const QString &message, const QString &programName)
{
    CliArguments result;
    result.outcome = CliArguments::Usage;
    result.text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                      .arg(programName, message);
    return result;
}

} // namespace

QString languageFor(const QString &argument)
{
    bool isNumber = false;
    const int devPid = argument.toInt(&isNumber);
    for (const RecognitionLanguage &language : recognitionLanguages()) {
        if (argument == language.text
            || argument.compare(language.shortName, Qt::CaseInsensitive) == 0
            || (isNumber && devPid == language.devPid))
            return language.text;
    }
    return QString();
}

QString serviceAddress(const QString &argument)
{
    QString address = argument.trimmed();
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.hasQuery()
        || url.hasFragment())
        return QString();
    return address;
}

namespace {

// Every option of the command line, each declared once with its help text, in the order the
// help lists them.
struct OptionSet
{
    explicit OptionSet(const QString &defaultServiceUrl);

    QCommandLineOption help { { QStringLiteral("h"), QStringLiteral("help") },
        QStringLiteral("Show this help.") };
    QCommandLineOption version { { QStringLiteral("v"), QStringLiteral("version") },
        QStringLiteral("Show the version.") };
    QCommandLineOption language;
    QCommandLineOption service;
    QCommandLineOption serviceKind { QStringLiteral("service-kind"),
        QStringLiteral("token (the service's own protocol) or transcriptions (POST "
                       "/v1/audio/transcriptions with a key). Default: the saved settings, "
                       "else token."),
        QStringLiteral("kind") };
    QCommandLineOption model { QStringLiteral("model"),
        QStringLiteral("Model name for the transcription API. Default: the saved settings, "
                       "else whisper-1."),
        QStringLiteral("name") };
    QCommandLineOption secretFile { QStringLiteral("secret-file"),
        QStringLiteral("File holding the client secret or API key. Default: "
                       "TOVARIN_SERVICE_SECRET, else the saved secret."),
        QStringLiteral("file") };
    QCommandLineOption outputDir { { QStringLiteral("o"), QStringLiteral("output-dir") },
        QStringLiteral("Folder for the transcripts (made when missing). Default: beside each "
                       "input file."),
        QStringLiteral("dir") };
    QCommandLineOption overwrite { QStringLiteral("overwrite"),
        QStringLiteral("Replace existing transcripts; without it they are kept and the file "
                       "is skipped.") };
    QCommandLineOption format { { QStringLiteral("f"), QStringLiteral("format") },
        QStringLiteral("One or more of txt (plain text, as the window writes it), srt and vtt "
                       "(subtitles), json (every segment and utterance with its times in "
                       "seconds), separated by commas: -f txt,srt. Default: txt."),
        QStringLiteral("formats") };
    QCommandLineOption jobs { { QStringLiteral("j"), QStringLiteral("jobs") },
        QStringLiteral("Files transcribed side by side, 1 to %1. Default: 1.").arg(maxJobs),
        QStringLiteral("n") };
    QCommandLineOption recursive { { QStringLiteral("r"), QStringLiteral("recursive") },
        QStringLiteral("Take folders' sub-folders too.") };
    QCommandLineOption quiet { { QStringLiteral("q"), QStringLiteral("quiet") },
        QStringLiteral("No progress; failures and the summary only.") };
    QCommandLineOption script { QStringLiteral("script"),
        QStringLiteral("Write Chinese in one script: zh-Hans (简体), zh-Hant-TW (繁體，台灣), "
                       "zh-Hant-HK (繁體，香港) or as-given. Default: the saved settings, else "
                       "as the service gives it."),
        QStringLiteral("script") };
    QCommandLineOption terms { QStringLiteral("terms"),
        QStringLiteral("File of the user's terms, one a line, a term or 'wrong => right'. "
                       "Default: ~/.config/tovarin/terms.txt."),
        QStringLiteral("file") };
    QCommandLineOption chinesePunctuation { QStringLiteral("chinese-punctuation"),
        QStringLiteral("on or off: full-width punctuation in Chinese text. Default: the saved "
                       "settings, else on."),
        QStringLiteral("on|off") };
    QCommandLineOption arabicNumbers { QStringLiteral("arabic-numbers"),
        QStringLiteral("on or off: Chinese numerals as digits where they are numbers. "
                       "Default: the saved settings, else off."),
        QStringLiteral("on|off") };
    QCommandLineOption spaceBetween { QStringLiteral("space-between"),
        QStringLiteral("on or off: a blank between Chinese and Latin letters or digits. "
                       "Default: the saved settings, else off."),
        QStringLiteral("on|off") };
    QCommandLineOption requestPath { QStringLiteral("request-path"),
        QStringLiteral("The transcription API's request path, such as /inference. Default: "
                       "the saved settings, else /v1/audio/transcriptions."),
        QStringLiteral("path") };
    QCommandLineOption tokenUrl { QStringLiteral("token-url"),
        QStringLiteral("Address that hands out the token protocol's tokens, when it is not "
                       "the recognition address. Default: the saved settings, else the "
                       "service address."),
        QStringLiteral("url") };
    QCommandLineOption listLanguages { QStringLiteral("list-languages"),
        QStringLiteral("Ask the service which languages it has models for, print them and "
                       "transcribe nothing.") };
    QCommandLineOption search { QStringLiteral("search"),
        QStringLiteral("Print each line of the transcripts in FOLDER (default: the window's "
                       "library) that holds every word of the query, as file:time: line; "
                       "exit 1 when none does."),
        QStringLiteral("query") };
    QCommandLineOption from { QStringLiteral("from"),
        QStringLiteral("Transcribe each file from this time on, hh:mm:ss[.mmm]; the times "
                       "written stay the file's. Default: its start."),
        QStringLiteral("time") };
    QCommandLineOption to { QStringLiteral("to"),
        QStringLiteral("Transcribe each file up to this time, hh:mm:ss[.mmm]. Default: its "
                       "end."),
        QStringLiteral("time") };
    QCommandLineOption live { QStringLiteral("live"),
        QStringLiteral("Record from a capture device and print each utterance's text with "
                       "its time as it is said; Ctrl+C or SIGTERM ends it, and the recording "
                       "and its transcripts are written into the output folder (default: "
                       "the current folder).") };
    QCommandLineOption device { QStringLiteral("device"),
        QStringLiteral("The capture device of --live, as --list-devices names it. Default: "
                       "the system's default input."),
        QStringLiteral("name") };
    QCommandLineOption listDevices { QStringLiteral("list-devices"),
        QStringLiteral("Print the capture devices and record nothing.") };
};

OptionSet::OptionSet(const QString &defaultServiceUrl)
    : language({ QStringLiteral("l"), QStringLiteral("language") },
        QStringLiteral("Recognition language, by name, item text or dev_pid: %1. Default: %2.")
            .arg(languageChoices(), recognitionLanguages().first().shortName),
        QStringLiteral("language"))
    , service({ QStringLiteral("s"), QStringLiteral("service") },
          QStringLiteral("Address of the speech service. Default: %1.").arg(defaultServiceUrl),
          QStringLiteral("url"))
{ }

void setUpParser(QCommandLineParser &parser, const OptionSet &o)
{
    parser.setApplicationDescription(QStringLiteral(
        "Transcribes audio and video files with the speech service, as the Tovarin window "
        "does:\neach file is converted with ffmpeg, cut into 59-second segments and "
        "recognised;\none transcript per file. Progress and messages go to standard error, the "
        "path of\neach transcript written to standard output."));
    parser.addOptions({ o.help, o.version, o.language, o.service, o.serviceKind, o.model,
        o.secretFile, o.outputDir, o.overwrite, o.format, o.jobs, o.recursive, o.quiet });
    parser.addOptions(
        { o.script, o.terms, o.chinesePunctuation, o.arabicNumbers, o.spaceBetween, o.requestPath,
            o.tokenUrl, o.listLanguages, o.search, o.from, o.to, o.live, o.device, o.listDevices });
    parser.addPositionalArgument(QStringLiteral("files"),
        QStringLiteral("Audio and video files, and folders whose audio and video files are "
                       "taken."),
        QStringLiteral("FILE|FOLDER..."));
}

QString helpText(const QCommandLineParser &parser, const QString &programName)
{
    QString text = parser.helpText();
    // The usage line names the program as it is installed, not as the parser found it.
    const int lineEnd = text.indexOf(QLatin1Char('\n'));
    text
        = QStringLiteral("Usage: %1 [options] FILE|FOLDER...").arg(programName) + text.mid(lineEnd);
    return text + QLatin1Char('\n') + examples(programName);
}

// The usage problem of the inputs, or empty when there is none.
QString inputsProblem(const QStringList &inputs)
{
    if (inputs.isEmpty())
        return QStringLiteral("no files or folders given");
    for (const QString &input : inputs) {
        if (input.isEmpty())
            return QStringLiteral("an empty file name was given");
    }
    return QString();
}

QString liveProblem(const CliOptions &options)
{
    if (!options.live && options.deviceSet)
        return QStringLiteral("--device is for --live");
    if (options.live && !options.inputs.isEmpty())
        return QStringLiteral("--live records; it takes no files");
    if (options.deviceSet && options.device.isEmpty())
        return QStringLiteral("the device name is empty");
    return QString();
}

QString searchProblem(const CliOptions &options)
{
    if (options.search.trimmed().isEmpty())
        return QStringLiteral("the search query is empty");
    if (options.inputs.size() > 1)
        return QStringLiteral("--search takes one folder");
    if (options.inputs.size() == 1 && options.inputs.first().isEmpty())
        return QStringLiteral("an empty folder name was given");
    return QString();
}

// The span of --from and --to; empty when it is sound.
QString readSpan(const QCommandLineParser &parser, const OptionSet &o, CliOptions &options)
{
    const std::pair<const QCommandLineOption *, qint64 *> ends[]
        = { { &o.from, &options.fromMs }, { &o.to, &options.toMs } };
    for (const auto &[option, value] : ends) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<qint64> ms = ClockTime::parseMs(parser.value(*option));
        if (!ms)
            return QStringLiteral("--%1 takes a time as hh:mm:ss or hh:mm:ss.mmm, not '%2'")
                .arg(option->names().last(), parser.value(*option));
        *value = *ms;
    }
    if (options.toMs >= 0 && options.fromMs >= options.toMs)
        return QStringLiteral("--from %1 is not before --to %2")
            .arg(parser.value(o.from), parser.value(o.to));
    return QString();
}

// Reads the options' values into options; returns the usage problem, or empty when they are
// all sound.
// Which service, of which kind, with which model and secret; empty when all is well.
QString readServiceChoice(const QCommandLineParser &parser, const OptionSet &o, CliOptions &options)
{
    options.serviceSet = parser.isSet(o.service);
    if (parser.isSet(o.serviceKind)) {
        options.serviceKind = parser.value(o.serviceKind);
        if (options.serviceKind != QLatin1String("token")
            && options.serviceKind != QLatin1String("transcriptions"))
            return QStringLiteral("unknown service kind '%1'; choose token or transcriptions")
                .arg(options.serviceKind);
    }
    options.model = parser.value(o.model).trimmed();
    if (parser.isSet(o.model) && options.model.isEmpty())
        return QStringLiteral("the model name is empty");
    options.secretFile = parser.value(o.secretFile);
    if (parser.isSet(o.secretFile) && options.secretFile.isEmpty())
        return QStringLiteral("the secret file name is empty");
    return QString();
}

// How text is written and where the service answers; empty when all is well.
QString readTextOptions(const QCommandLineParser &parser, const OptionSet &o, CliOptions &options)
{
    if (parser.isSet(o.script)) {
        ChineseScript::Target target;
        options.script = parser.value(o.script);
        if (!ChineseScript::fromName(options.script, &target))
            return QStringLiteral("unknown script '%1'; choose zh-Hans, zh-Hant-TW, zh-Hant-HK or "
                                  "as-given")
                .arg(options.script);
    }
    if (parser.isSet(o.terms)) {
        options.termsFile = parser.value(o.terms);
        if (options.termsFile.isEmpty())
            return QStringLiteral("the terms file name is empty");
    }
    const std::pair<const QCommandLineOption *, std::optional<bool> *> switches[] = {
        { &o.chinesePunctuation, &options.chinesePunctuation },
        { &o.arabicNumbers, &options.arabicNumbers },
        { &o.spaceBetween, &options.spaceBetween },
    };
    for (const auto &[option, value] : switches) {
        if (!parser.isSet(*option))
            continue;
        const QString given = parser.value(*option).toLower();
        if (given != QLatin1String("on") && given != QLatin1String("off"))
            return QStringLiteral("--%1 takes on or off, not '%2'")
                .arg(option->names().last(), parser.value(*option));
        *value = given == QLatin1String("on");
    }
    options.requestPath = parser.value(o.requestPath).trimmed();
    if (!options.requestPath.isEmpty() && !options.requestPath.startsWith(QLatin1Char('/')))
        return QStringLiteral("the request path '%1' does not start with '/'")
            .arg(options.requestPath);
    if (parser.isSet(o.tokenUrl)) {
        options.tokenUrl = serviceAddress(parser.value(o.tokenUrl));
        if (options.tokenUrl.isEmpty())
            return QStringLiteral("'%1' is not an http:// or https:// address")
                .arg(parser.value(o.tokenUrl));
    }
    return QString();
}

QString readValues(const QCommandLineParser &parser, const OptionSet &o,
    const QString &defaultServiceUrl, CliOptions &options)
{
    options.language = recognitionLanguages().first().text;
    if (parser.isSet(o.language)) {
        options.language = languageFor(parser.value(o.language));
        if (options.language.isEmpty()) {
            return QStringLiteral("unknown language '%1'; choose one of %2")
                .arg(parser.value(o.language), languageChoices());
        }
    }

    options.serviceUrl = serviceAddress(defaultServiceUrl);
    if (parser.isSet(o.service)) {
        options.serviceUrl = serviceAddress(parser.value(o.service));
        if (options.serviceUrl.isEmpty()) {
            return QStringLiteral("'%1' is not an http:// or https:// address")
                .arg(parser.value(o.service));
        }
    }
    if (const QString problem = readServiceChoice(parser, o, options); !problem.isEmpty())
        return problem;
    if (const QString problem = readTextOptions(parser, o, options); !problem.isEmpty())
        return problem;
    if (const QString problem = readSpan(parser, o, options); !problem.isEmpty())
        return problem;

    if (parser.isSet(o.outputDir)) {
        options.outputDir = parser.value(o.outputDir);
        if (options.outputDir.isEmpty())
            return QStringLiteral("the output folder is empty");
    }

    if (parser.isSet(o.format)) {
        options.formats.clear();
        for (const QString &name : parser.value(o.format).toLower().split(QLatin1Char(','))) {
            const QString value = name.trimmed();
            const int known = formatNames().indexOf(value);
            if (known < 0)
                return QStringLiteral("unknown format '%1'; choose txt, srt, vtt or json")
                    .arg(value);
            if (!options.formats.contains(CliOptions::Format(known)))
                options.formats << CliOptions::Format(known);
        }
        options.format = options.formats.first();
    }

    if (parser.isSet(o.jobs)) {
        bool isNumber = false;
        options.jobs = parser.value(o.jobs).toInt(&isNumber);
        if (!isNumber || options.jobs < 1 || options.jobs > maxJobs) {
            return QStringLiteral("--jobs takes a number from 1 to %1, not '%2'")
                .arg(maxJobs)
                .arg(parser.value(o.jobs));
        }
    }

    options.overwrite = parser.isSet(o.overwrite);
    options.recursive = parser.isSet(o.recursive);
    options.quiet = parser.isSet(o.quiet);
    return QString();
}

} // namespace

CliArguments parse(
    const QStringList &arguments, const QString &defaultServiceUrl, const QString &programName)
{
    const OptionSet o(defaultServiceUrl);
    QCommandLineParser parser;
    setUpParser(parser, o);
    if (!parser.parse(QStringList { programName } + arguments))
        return usage(parser.errorText(), programName);

    CliArguments result;
    if (parser.isSet(o.help)) {
        result.outcome = CliArguments::Help;
        result.text = helpText(parser, programName);
        return result;
    }
    if (parser.isSet(o.version)) {
        result.outcome = CliArguments::Version;
        result.text = programName + QStringLiteral(" 1.0\n");
        return result;
    }

    // A value given twice is ambiguous in a script: refuse it rather than pick one.
    for (const QCommandLineOption *option :
        { &o.language, &o.service, &o.serviceKind, &o.model, &o.secretFile, &o.outputDir, &o.format,
            &o.jobs, &o.script, &o.terms, &o.chinesePunctuation, &o.arabicNumbers, &o.spaceBetween,
            &o.requestPath, &o.tokenUrl, &o.search, &o.from, &o.to, &o.device }) {
        if (parser.values(*option).size() > 1) {
            return usage(
                QStringLiteral("--%1 was given more than once").arg(option->names().last()),
                programName);
        }
    }

    CliOptions &options = result.options;
    options.inputs = parser.positionalArguments();
    options.listLanguages = parser.isSet(o.listLanguages);
    options.searchSet = parser.isSet(o.search);
    options.search = parser.value(o.search);
    options.live = parser.isSet(o.live);
    options.listDevices = parser.isSet(o.listDevices);
    options.deviceSet = parser.isSet(o.device);
    options.device = parser.value(o.device);
    QString problem = liveProblem(options);
    if (problem.isEmpty() && !options.live) {
        problem = options.listLanguages || options.listDevices ? QString()
            : options.searchSet                                ? searchProblem(options)
                                                               : inputsProblem(options.inputs);
    }
    if (problem.isEmpty())
        problem = readValues(parser, o, defaultServiceUrl, options);
    if (!problem.isEmpty())
        return usage(problem, programName);
    result.outcome = CliArguments::Run;
    return result;
}

} // namespace CliArgumentRules
