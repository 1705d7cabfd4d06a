#pragma once

#include <QString>
#include <QStringList>

// Where the program finds its speech service and keeps its working folders, installed or not.
//
// Installed means the layout an installation makes: the program in <prefix>/bin and the speech
// service in <prefix>/libexec/tovarin. An installed program keeps each user's working folders in
// that user's data folder; a program run from its build folder or a portable copy (no installed
// service beside it) keeps them beside its executable.
namespace ProgramLayout {

// The three working folders: recordings and audio library, transcripts, segments of a job.
QStringList workFolderNames();

// Each working folder and file under the working base (installed or portable alike): the
// recordings and audio library, the transcripts, a job's segments and converted copy, what a
// job recognised so far, and the recording test file the exit removes.
QString audioFolder(const QString &base);
QString transcriptFolder(const QString &base);
QString segmentFolder(const QString &base);
QString resumeFolder(const QString &base);
QString recordTestFile(const QString &base);
// The cache of each service's languages, "$XDG_CACHE_HOME/tovarin/languages.json".
QString languagesCacheFile();

// The installed speech service for a program in programDir (whether it exists or not).
QString installedServicePath(const QString &programDir);

// The speech service programs to try, best first: the installed one, the build tree's
// (build/app/tovarin beside build/service/speech-service), one beside a portable copy.
QStringList serviceProgramCandidates(const QString &programDir);

// The folder that holds the working folders: the user's data folder when installed, the
// program's own folder otherwise.
QString workBase(const QString &programDir, bool installed, const QString &userDataFolder);

// The working base an installed program keeps for this user, whichever program asks
// ("$XDG_DATA_HOME/tovarin", ~/.local/share/tovarin).
QString installedWorkBase();

// For this process: true when the installed speech service lies beside the program.
bool isInstalled(const QString &programDir);
// The working base of this process (QStandardPaths::AppDataLocation when installed).
QString workBaseForThisProgram();
// The first existing, executable service program of the candidates; empty when there is none.
QString findServiceProgram(const QString &programDir);

// Creates base and the working folders under it where missing. Returns the first folder that
// could not be created or is not writable, empty when all of them are usable.
QString createWorkFolders(const QString &base);

// The user's data folder, "$XDG_DATA_HOME/tovarin" (or ~/.local/share/tovarin), whether the
// program is installed or not.
QString userDataFolder();
// The search index of the transcript library beside the working folders under workBase: in
// the user's data folder for an installed program, beside a portable one's executable.
QString searchIndexFile(const QString &workBase);
// The installed program's, in the user's data folder.
QString searchIndexFile();

// The user's settings folder, "$XDG_CONFIG_HOME/tovarin" (or ~/.config/tovarin).
QString userConfigFolder();

// Unsaved edits of open transcripts, a file each, in the user's data folder.
QString recoveryFolder();

// The user's runtime folder for this program: "$XDG_RUNTIME_DIR/tovarin", or the user's data
// folder when XDG_RUNTIME_DIR is unset or not absolute. Made private (platform/privatefolder.h)
// by whoever puts something there.
QString runtimeFolder();
// In the runtime folder: the socket a second start hands its files over on, and its lock.
QString instanceSocket();
QString instanceLockFile();
// The secret the local speech service started for this user proves it knows.
QString serviceSecretFile();
// A lock file of this user's that XDG_RUNTIME_DIR does not move
// (~/.local/share/tovarin/instance-user.lock), so that a start with the variable and one
// without still meet. Its folder is made when missing; empty when that fails.
QString userLockFile();

} // namespace ProgramLayout
