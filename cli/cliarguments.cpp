#include "cli/cliarguments.h"

#include "asr/recognitionrequest.h"

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

CliArguments parse(
    const QStringList &arguments, const QString &defaultServiceUrl, const QString &programName)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Transcribes audio and video files with the speech service, as the Tovarin window "
        "does:\neach file is converted with ffmpeg, cut into 59-second segments and "
        "recognised;\none transcript per file. Progress and messages go to standard error, the "
        "path of\neach transcript written to standard output."));
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        { QStringLiteral("v"), QStringLiteral("version") }, QStringLiteral("Show the version."));
    const QCommandLineOption language({ QStringLiteral("l"), QStringLiteral("language") },
        QStringLiteral("Recognition language, by name, item text or dev_pid: %1. Default: %2.")
            .arg(languageChoices(), recognitionLanguages().first().shortName),
        QStringLiteral("language"));
    const QCommandLineOption service({ QStringLiteral("s"), QStringLiteral("service") },
        QStringLiteral("Address of the speech service. Default: %1.").arg(defaultServiceUrl),
        QStringLiteral("url"));
    const QCommandLineOption outputDir({ QStringLiteral("o"), QStringLiteral("output-dir") },
        QStringLiteral("Folder for the transcripts (made when missing). Default: beside each "
                       "input file."),
        QStringLiteral("dir"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"),
        QStringLiteral("Replace existing transcripts; without it they are kept and the file "
                       "is skipped."));
    const QCommandLineOption format({ QStringLiteral("f"), QStringLiteral("format") },
        QStringLiteral("One or more of txt (plain text, as the window writes it), srt and vtt "
                       "(subtitles), json (every segment and utterance with its times in "
                       "seconds), separated by commas: -f txt,srt. Default: txt."),
        QStringLiteral("formats"));
    const QCommandLineOption jobs({ QStringLiteral("j"), QStringLiteral("jobs") },
        QStringLiteral("Files transcribed side by side, 1 to %1. Default: 1.").arg(maxJobs),
        QStringLiteral("n"));
    const QCommandLineOption recursive({ QStringLiteral("r"), QStringLiteral("recursive") },
        QStringLiteral("Take folders' sub-folders too."));
    const QCommandLineOption quiet({ QStringLiteral("q"), QStringLiteral("quiet") },
        QStringLiteral("No progress; failures and the summary only."));
    parser.addOptions(
        { help, version, language, service, outputDir, overwrite, format, jobs, recursive, quiet });
    parser.addPositionalArgument(QStringLiteral("files"),
        QStringLiteral("Audio and video files, and folders whose audio and video files are "
                       "taken."),
        QStringLiteral("FILE|FOLDER..."));

    if (!parser.parse(QStringList { programName } + arguments))
        return usage(parser.errorText(), programName);

    CliArguments result;
    if (parser.isSet(help)) {
        result.outcome = CliArguments::Help;
        QString text = parser.helpText();
        // The usage line names the program as it is installed, not as the parser found it.
        const int lineEnd = text.indexOf(QLatin1Char('\n'));
        text = QStringLiteral("Usage: %1 [options] FILE|FOLDER...").arg(programName)
            + text.mid(lineEnd);
        result.text = text + QLatin1Char('\n') + examples(programName);
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = CliArguments::Version;
        result.text = programName + QStringLiteral(" 1.0\n");
        return result;
    }

    // A value given twice is ambiguous in a script: refuse it rather than pick one.
    for (const QCommandLineOption *option : { &language, &service, &outputDir, &format, &jobs }) {
        if (parser.values(*option).size() > 1) {
            return usage(
                QStringLiteral("--%1 was given more than once").arg(option->names().last()),
                programName);
        }
    }

    CliOptions &options = result.options;
    options.inputs = parser.positionalArguments();
    if (options.inputs.isEmpty())
        return usage(QStringLiteral("no files or folders given"), programName);
    for (const QString &input : options.inputs) {
        if (input.isEmpty())
            return usage(QStringLiteral("an empty file name was given"), programName);
    }

    options.language = recognitionLanguages().first().text;
    if (parser.isSet(language)) {
        options.language = languageFor(parser.value(language));
        if (options.language.isEmpty()) {
            return usage(QStringLiteral("unknown language '%1'; choose one of %2")
                             .arg(parser.value(language), languageChoices()),
                programName);
        }
    }

    options.serviceUrl = serviceAddress(defaultServiceUrl);
    if (parser.isSet(service)) {
        options.serviceUrl = serviceAddress(parser.value(service));
        if (options.serviceUrl.isEmpty()) {
            return usage(QStringLiteral("'%1' is not an http:// or https:// address")
                             .arg(parser.value(service)),
                programName);
        }
    }

    if (parser.isSet(outputDir)) {
        options.outputDir = parser.value(outputDir);
        if (options.outputDir.isEmpty())
            return usage(QStringLiteral("the output folder is empty"), programName);
    }

    if (parser.isSet(format)) {
        options.formats.clear();
        for (const QString &name : parser.value(format).toLower().split(QLatin1Char(','))) {
            const QString value = name.trimmed();
            const int known = formatNames().indexOf(value);
            if (known < 0)
                return usage(
                    QStringLiteral("unknown format '%1'; choose txt, srt, vtt or json").arg(value),
                    programName);
            if (!options.formats.contains(CliOptions::Format(known)))
                options.formats << CliOptions::Format(known);
        }
        options.format = options.formats.first();
    }

    if (parser.isSet(jobs)) {
        bool isNumber = false;
        options.jobs = parser.value(jobs).toInt(&isNumber);
        if (!isNumber || options.jobs < 1 || options.jobs > maxJobs) {
            return usage(QStringLiteral("--jobs takes a number from 1 to %1, not '%2'")
                             .arg(maxJobs)
                             .arg(parser.value(jobs)),
                programName);
        }
    }

    options.overwrite = parser.isSet(overwrite);
    options.recursive = parser.isSet(recursive);
    options.quiet = parser.isSet(quiet);
    result.outcome = CliArguments::Run;
    return result;
}

} // namespace CliArgumentRules
