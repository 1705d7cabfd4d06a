#include "core/programlayout.h"

#include "core/filenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef TOV_SERVICE_FROM_BIN
#define TOV_SERVICE_FROM_BIN "../libexec/tovarin"
#endif

namespace ProgramLayout {

namespace {

const QString kAudio = QStringLiteral("myWAVFiles");
const QString kTranscripts = QStringLiteral("myWordFiles");
const QString kSegments = QStringLiteral("myTmpWAVFiles");
const QString kResume = QStringLiteral("myResumeFiles");

QString under(const QString &base, const QString &name)
{
    return base + QLatin1Char('/') + name;
}

} // namespace

QStringList workFolderNames()
{
    return { kTranscripts, kAudio, kSegments };
}

QString audioFolder(const QString &base)
{
    return under(base, kAudio);
}

QString transcriptFolder(const QString &base)
{
    return under(base, kTranscripts);
}

QString segmentFolder(const QString &base)
{
    return under(base, kSegments);
}

QString resumeFolder(const QString &base)
{
    return under(base, kResume);
}

QString recordTestFile(const QString &base)
{
    return under(base, QStringLiteral("recordTest.wav"));
}

QString languagesCacheFile()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/tovarin/languages.json");
}

QString installedServicePath(const QString &programDir)
{
    return QDir::cleanPath(programDir + QStringLiteral("/" TOV_SERVICE_FROM_BIN "/speech-service"));
}

QStringList serviceProgramCandidates(const QString &programDir)
{
    return { installedServicePath(programDir),
        QDir::cleanPath(programDir + QStringLiteral("/../service/speech-service")),
        QDir::cleanPath(programDir + QStringLiteral("/speech-service")) };
}

QString workBase(const QString &programDir, bool installed, const QString &userDataFolder)
{
    return FileNames::withSlashes(installed ? userDataFolder : programDir);
}

bool isInstalled(const QString &programDir)
{
    return QFileInfo(installedServicePath(programDir)).isExecutable();
}

QString workBaseForThisProgram()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const bool installed = isInstalled(programDir);
    return workBase(programDir, installed,
        installed ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) : QString());
}

QString installedWorkBase()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tovarin");
}

QString findServiceProgram(const QString &programDir)
{
    for (const QString &candidate : serviceProgramCandidates(programDir)) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return QString();
}

QString createWorkFolders(const QString &base)
{
    // No home folder gives no data folder; the user is told rather than left with a relative one.
    if (base.isEmpty())
        return QStringLiteral("~/.local/share/tovarin");
    // Every folder that can be made is made, so the rest of the program still works where it can.
    QString failed;
    for (const QString &name : workFolderNames()) {
        const QString path = base + QLatin1Char('/') + name;
        // A folder that exists but is not ours to write fails the same way later: say it now.
        if ((!QDir().mkpath(path) || !QFileInfo(path).isWritable()) && failed.isEmpty())
            failed = path;
    }
    return failed;
}

QString recoveryFolder()
{
    return userDataFolder() + QStringLiteral("/recovery");
}

QString runtimeFolder()
{
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return QDir::cleanPath(runtime) + QStringLiteral("/tovarin");
    return userDataFolder();
}

QString instanceSocket()
{
    return runtimeFolder() + QStringLiteral("/instance");
}

QString instanceLockFile()
{
    return instanceSocket() + QStringLiteral(".lock");
}

QString serviceSecretFile()
{
    return runtimeFolder() + QStringLiteral("/service-secret");
}

QString userLockFile()
{
    const QString folder = QDir::homePath() + QStringLiteral("/.local/share/tovarin");
    if (!QDir().mkpath(folder))
        return QString();
    return folder + QStringLiteral("/instance-user.lock");
}

QString userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tovarin");
}

QString searchIndexFile(const QString &workBase)
{
    return workBase + QStringLiteral("/transcript-index.sqlite");
}

QString searchIndexFile()
{
    return searchIndexFile(userDataFolder());
}

QString userConfigFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tovarin");
}

} // namespace ProgramLayout
