// tovarin-transcribe: the window's transcription job for files and folders named on the command
// line, without a window or a display.
#include "asr/resumestore.h"
#include "asr/secretstore.h"
#include "asr/servicelanguages.h"
#include "asr/speechservicestarter.h"
#include "cli/batchrunner.h"
#include "cli/cliarguments.h"
#include "cli/inputfiles.h"
#include "cli/languagelist.h"
#include "cli/liverunner.h"
#include "cli/logging.h"
#include "cli/outputplan.h"
#include "cli/progressdisplay.h"
#include "cli/searchcommand.h"
#include "cli/servicechoice.h"
#include "cli/signalwatcher.h"
#include "core/programlayout.h"
#include "platform/clientid.h"
#include "platform/inputdevices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextCodec>

#include <cstdio>
#include <optional>

namespace {

const int UsageStatus = 2;

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Makes the folder when missing and checks that a file can be made in it; the error otherwise.
QString prepareOutputFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return QStringLiteral("output folder '%1' is not a folder").arg(folder);
    if (!QDir().mkpath(folder))
        return QStringLiteral("output folder '%1' cannot be made").arg(folder);
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tovarin-transcribe-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("output folder '%1' cannot be written").arg(folder);
    return QString();
}

// Log lines reach the terminal as the rest of the output does: the names in them (a file's,
// say) are escaped, so a control character in a name cannot act on the terminal.
void printLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    print(stderr,
        ProgressTexts::printable(qFormatLogMessage(type, context, message)) + QLatin1Char('\n'));
}

// The capture devices by the names --device takes; the system's "default" alias is what
// --live uses without one.
int listDevices()
{
    print(stdout, QStringLiteral("default\n"));
    for (const QString &name : InputDevices::names())
        print(stdout, name + QLatin1Char('\n'));
    return 0;
}

// Help, version, bad usage, a search and the list of languages end here; nullopt goes on to a run.
std::optional<int> answerWithoutRun(const CliArguments &arguments, const QString &program)
{
    switch (arguments.outcome) {
    case CliArguments::Help:
    case CliArguments::Version:
        print(stdout, arguments.text);
        return 0;
    case CliArguments::Usage:
        print(stderr, arguments.text);
        return UsageStatus;
    case CliArguments::Run:
        break;
    }
    const CliOptions &options = arguments.options;
    if (options.searchSet)
        return SearchCommand::run(options.search, options.inputs.value(0), stdout, stderr);
    if (options.listLanguages) {
        const ServiceChoice choice = ServiceChoiceRules::choose(
            options, ServiceSettingsFile::load(), QStringLiteral(SPEECH_SERVICE_URL));
        const QString secret = LanguageList::secretFor(choice, options.secretFile);
        return LanguageList::print(LanguageList::serviceOf(choice, secret), program,
            ProgramLayout::findServiceProgram(QCoreApplication::applicationDirPath()));
    }
    if (options.listDevices)
        return listDevices();
    return std::nullopt;
}

// Says what was left out of the inputs; a status when nothing is left to run.
std::optional<int> reportInputs(const InputFiles &inputs, bool live, const QString &program)
{
    if (!inputs.problems.isEmpty()) {
        for (const QString &problem : inputs.problems)
            print(
                stderr, QStringLiteral("%1: %2\n").arg(program, ProgressTexts::printable(problem)));
        return UsageStatus;
    }
    for (const QString &duplicate : inputs.duplicates) {
        print(stderr,
            QStringLiteral("%1: '%2' was given more than once; it is transcribed once\n")
                .arg(program, duplicate));
    }
    for (const QString &file : inputs.undecodable) {
        print(stderr,
            QStringLiteral("%1: '%2': the name is not valid UTF-8; not transcribed\n")
                .arg(program, ProgressTexts::printable(file)));
    }
    if (inputs.files.isEmpty() && !live) {
        print(stderr, QStringLiteral("%1: no audio or video files found\n").arg(program));
        return 0;
    }
    return std::nullopt;
}

// The output folder made absolute and ready. A link as the output folder is followed, as the
// user may mean it, but named (outputLink): in a folder others can write it may have been put
// there to lead the transcripts elsewhere.
std::optional<int> prepareOutput(CliOptions &options, QString *outputLink, const QString &program)
{
    if (options.outputDir.isEmpty())
        return std::nullopt;
    options.outputDir = QFileInfo(options.outputDir).absoluteFilePath();
    if (QFileInfo(options.outputDir).isSymLink())
        *outputLink = options.outputDir;
    const QString problem = prepareOutputFolder(options.outputDir);
    if (problem.isEmpty())
        return std::nullopt;
    print(stderr, QStringLiteral("%1: %2\n").arg(program, ProgressTexts::printable(problem)));
    return UsageStatus;
}

// --secret-file and the terms: a named file that cannot be read ends the run as bad usage.
std::optional<int> readSecretAndTerms(
    const CliOptions &options, const QString &program, QString *secretFromFile, UserTerms *terms)
{
    if (!options.secretFile.isEmpty()
        && (!SecretFile::read(options.secretFile, secretFromFile) || secretFromFile->isEmpty())) {
        QFile file(options.secretFile);
        const QString why = file.open(QIODevice::ReadOnly) ? QStringLiteral("no secret in it")
                                                           : file.errorString();
        qCWarning(lcCli).noquote()
            << "cannot read the secret file" << options.secretFile << ":" << why;
        print(stderr,
            QStringLiteral("%1: no secret could be read from '%2'\n")
                .arg(program, options.secretFile));
        return UsageStatus;
    }
    if (!options.secretFile.isEmpty() && SecretFile::othersMayAccess(options.secretFile))
        print(stderr,
            QStringLiteral("%1: warning: other users may read or change '%2'; make it yours alone "
                           "(chmod 600)\n")
                .arg(program, options.secretFile));
    bool termsRead = false;
    *terms = UserTermsFile::load(
        options.termsFile.isEmpty() ? UserTermsFile::path() : options.termsFile, &termsRead);
    if (!options.termsFile.isEmpty() && !termsRead) {
        print(stderr,
            QStringLiteral("%1: no terms could be read from '%2'\n")
                .arg(program, options.termsFile));
        return UsageStatus;
    }
    return std::nullopt;
}

// Transcripts' paths on standard output as they are written; the summary and the status at the end.
void reportRun(
    BatchRunner *runner, ProgressDisplay *display, int undecodable, const QString &outputLink)
{
    QObject::connect(runner, &BatchRunner::transcriptWritten, [display](const QString &path) {
        display->print(stdout, ProgressTexts::printable(path) + QLatin1Char('\n'));
    });
    QObject::connect(runner, &BatchRunner::finished, QCoreApplication::instance(),
        [runner, undecodable, outputLink](int status) {
            RunSummary told = runner->summary();
            told.undecodableNames = undecodable;
            told.outputLink = outputLink;
            if (!outputLink.isEmpty())
                told.outputLinkTarget = QFileInfo(outputLink).symLinkTarget();
            print(stderr, ProgressTexts::summary(told));
            QCoreApplication::exit(status);
        });
}

// The secret first: the environment, then --secret-file, then the keyring or its file, which
// answer asynchronously. Started from the loop, so that a run with nothing to do still finds a
// loop to end.
void startWithSecret(SecretStore *secrets, BatchRunner *runner, LiveRunner *liveRunner,
    SpeechServiceStarter *starter, const ServiceChoice &choice, const CliOptions &options,
    const QString &secretFromFile)
{
    const QString program = QCoreApplication::applicationName();
    QObject::connect(
        secrets, &SecretStore::readDone, runner, [=](const QString &stored, SecretStore::Place) {
            const QString environment = SecretStore::environmentSecret();
            const QString secret = !environment.isEmpty() ? environment
                : !secretFromFile.isEmpty()               ? secretFromFile
                                                          : stored;
            SpeechServiceStarter *local = choice.startLocalService ? starter : nullptr;
            const JobSettings service = LanguageList::serviceOf(choice, secret);
            // A language the service is known to lack ends the run before any conversion; the
            // built-in service is asked first when nothing is known of it.
            LanguageProbe::learnBuiltIn(service, local, runner, [=] {
                const QString refused = LanguageList::refusal(service, options.language);
                if (!refused.isEmpty()) {
                    print(stderr, QStringLiteral("%1: %2\n").arg(program, refused));
                    QCoreApplication::exit(1);
                    return;
                }
                if (options.live) {
                    liveRunner->setService(choice.service, secret, local);
                    liveRunner->start();
                    return;
                }
                runner->setService(choice.service, secret, local);
                runner->start();
            });
        });
    // Only a service that takes the user's credentials asks the keyring.
    const bool needsStored = choice.service.kind == ServiceSettings::Kind::Transcriptions
        || !choice.service.clientId.isEmpty();
    if (!needsStored || !options.secretFile.isEmpty()
        || !SecretStore::environmentSecret().isEmpty())
        QMetaObject::invokeMethod(
            secrets, [secrets] { emit secrets->readDone(QString(), SecretStore::Place::None); },
            Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(secrets, &SecretStore::read, Qt::QueuedConnection);
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(printLogLine);
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral("tovarin-transcribe");
    QCoreApplication::setApplicationName(program);
    // Transcripts are written in the locale's encoding, as the window writes them.
    QTextCodec::setCodecForLocale(QTextCodec::codecForLocale());

    const CliArguments arguments = CliArgumentRules::parse(
        QCoreApplication::arguments().mid(1), QStringLiteral(SPEECH_SERVICE_URL), program);
    if (const std::optional<int> status = answerWithoutRun(arguments, program))
        return *status;
    CliOptions options = arguments.options;
    const InputFiles inputs
        = options.live ? InputFiles() : InputFileRules::collect(options.inputs, options.recursive);
    if (const std::optional<int> status = reportInputs(inputs, options.live, program))
        return *status;
    QString outputLink;
    if (const std::optional<int> status = prepareOutput(options, &outputLink, program))
        return *status;
    const QList<PlannedFile> plan
        = OutputPlanRules::plan(inputs.files, options.outputDir, options.formats, options.overwrite,
            [](const QString &path) { return QFileInfo::exists(path); });

    const ServiceChoice choice = ServiceChoiceRules::choose(
        options, ServiceSettingsFile::load(), QStringLiteral(SPEECH_SERVICE_URL));
    QString secretFromFile;
    UserTerms terms;
    if (const std::optional<int> status
        = readSecretAndTerms(options, program, &secretFromFile, &terms))
        return *status;
    SpeechServiceStarter starter;
    starter.setProgram(ProgramLayout::findServiceProgram(QCoreApplication::applicationDirPath()));

    ProgressDisplay display(stderr, options.quiet);
    const QString clientId = ClientId::fromAdapters(ClientId::systemAdapters());
    BatchRunner runner(options, plan, clientId, &display);
    // Kept per user, where an installed window keeps its own: a run that ended early goes on
    // where it ended, from the command line or from the window.
    const QString resumeFolder = ProgramLayout::resumeFolder(ProgramLayout::installedWorkBase());
    ResumeStore(resumeFolder).removeStale();
    runner.setResumeFolder(resumeFolder);
    runner.setTerms(terms);
    LiveRunner liveRunner(options, clientId, stdout, stderr);
    // Machines without a microphone: ffmpeg input options that stand for the device.
    const QString captureInput = qEnvironmentVariable("TOVARIN_CAPTURE_INPUT");
    if (!captureInput.isEmpty())
        liveRunner.setCaptureInputOverride(QProcess::splitCommand(captureInput));
    liveRunner.setTerms(terms);
    QObject::connect(&liveRunner, &LiveRunner::finished, &app, &QCoreApplication::exit);
    SignalWatcher watcher;
    if (options.live)
        QObject::connect(&watcher, &SignalWatcher::received, &liveRunner, &LiveRunner::interrupt);
    else
        QObject::connect(&watcher, &SignalWatcher::received, &runner, &BatchRunner::interrupt);
    reportRun(&runner, &display, int(inputs.undecodable.size()), outputLink);
    SecretStore secrets;
    startWithSecret(&secrets, &runner, &liveRunner, &starter, choice, options, secretFromFile);
    return QCoreApplication::exec();
}
