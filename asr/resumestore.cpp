#include "asr/resumestore.h"

#include "core/programlayout.h"

#include "core/wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
// A write in progress takes milliseconds; an older leftover is from a process that was killed.
const int leftoverAgeSeconds = 600;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

ResumeStore::ResumeStore(const QString &folder)
    : stateFolder(folder)
{ }

QString ResumeStore::defaultFolder(const QString &appDir)
{
    return ProgramLayout::resumeFolder(appDir);
}

QString ResumeStore::pathFor(const QString &sourcePath) const
{
    return stateFolder + QLatin1Char('/') + ResumeRules::stateFileName(sourcePath);
}

bool ResumeStore::usable() const
{
    return !stateFolder.isEmpty() && QDir().mkpath(stateFolder) && QFileInfo(stateFolder).isDir();
}

bool ResumeStore::save(const ResumeState &state) const
{
    if (!usable())
        return false;
    return WholeFile::write(pathFor(state.identity.sourcePath), ResumeRules::serialize(state));
}

bool ResumeStore::load(const QString &sourcePath, ResumeState *state) const
{
    if (stateFolder.isEmpty())
        return false;
    ResumeState read;
    if (ResumeRules::parse(readFile(pathFor(sourcePath)), &read) != ResumeRules::ParseResult::Ok
        || read.identity.sourcePath != sourcePath)
        return false;
    *state = read;
    return true;
}

void ResumeStore::remove(const QString &sourcePath) const
{
    if (!stateFolder.isEmpty())
        QFile::remove(pathFor(sourcePath));
}

void ResumeStore::removeStale() const
{
    if (stateFolder.isEmpty())
        return;
    static const QRegularExpression leftover(QStringLiteral("^[0-9a-f]{40}\\.json\\..+$"));
    QDir folder(stateFolder);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo &entry : folder.entryInfoList(QDir::Files | QDir::Hidden)) {
        const QString name = entry.fileName();
        if (ResumeRules::isStateFileName(name)) {
            const QString source = ResumeRules::sourceOf(readFile(entry.filePath()));
            const QFileInfo sourceInfo(source);
            const QDir sourceFolder = sourceInfo.absoluteDir();
            const bool folderHasEntries = sourceFolder.exists()
                && !sourceFolder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                        .isEmpty();
            if (source.isEmpty()
                || ResumeRules::isStale(sourceInfo.isFile(), folderHasEntries,
                    entry.lastModified().toUTC().daysTo(now)))
                folder.remove(name);
        } else if (leftover.match(name).hasMatch()
            && entry.lastModified().toUTC().secsTo(now) > leftoverAgeSeconds) {
            folder.remove(name);
        }
    }
}
