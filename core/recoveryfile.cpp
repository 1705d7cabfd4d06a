#include "core/recoveryfile.h"

#include "core/wholefile.h"
#include "platform/privatefolder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace RecoveryFiles {

namespace {

const int formatVersion = 1;
const char suffix[] = ".recovery.json";

} // namespace

QString pathFor(const QString &folder, const QString &transcriptPath)
{
    // Named by the transcript's whole path: two "talk.txt" in different folders are two files.
    const QByteArray key = QCryptographicHash::hash(
        QFileInfo(transcriptPath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha256)
                               .toHex()
                               .left(32);
    return folder + QLatin1Char('/') + QString::fromLatin1(key) + QLatin1String(suffix);
}

TranscriptStamp stampOf(const QString &transcriptPath)
{
    TranscriptStamp stamp;
    QFile file(transcriptPath);
    if (!file.open(QIODevice::ReadOnly))
        return stamp;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return stamp;
    stamp.size = file.size();
    stamp.modifiedMs = QFileInfo(transcriptPath).lastModified().toMSecsSinceEpoch();
    stamp.sha256 = hash.result().toHex();
    return stamp;
}

QByteArray serialize(const Recovery &recovery)
{
    const QJsonObject times
        = QJsonDocument::fromJson(TranscriptTimesRules::serialize(recovery.times)).object();
    const QJsonObject root { { QStringLiteral("version"), formatVersion },
        { QStringLiteral("transcript"), recovery.transcriptPath },
        { QStringLiteral("size"), recovery.stamp.size },
        { QStringLiteral("modified_ms"), recovery.stamp.modifiedMs },
        { QStringLiteral("sha256"), QString::fromLatin1(recovery.stamp.sha256) },
        { QStringLiteral("text"), recovery.text }, { QStringLiteral("times"), times } };
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

namespace {

// A stamp's hash as stampOf writes it: none (the transcript could not be read) or 64 hex
// digits. Anything else cannot match a transcript and would not survive being written again.
bool isStampHash(const QString &hash)
{
    static const QRegularExpression hex(QStringLiteral("\\A(?:[0-9a-f]{64})?\\z"));
    return hex.match(hash).hasMatch();
}

} // namespace

bool parse(const QByteArray &bytes, Recovery *recovery)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || !document.isObject()
        || root.value(QStringLiteral("version")).toInt() != formatVersion
        || !root.value(QStringLiteral("transcript")).isString()
        || !root.value(QStringLiteral("size")).isDouble()
        || !root.value(QStringLiteral("modified_ms")).isDouble()
        || !root.value(QStringLiteral("sha256")).isString()
        || !isStampHash(root.value(QStringLiteral("sha256")).toString())
        || !root.value(QStringLiteral("text")).isString()
        || !root.value(QStringLiteral("times")).isObject())
        return false;
    Recovery read;
    if (!TranscriptTimesRules::parse(
            QJsonDocument(root.value(QStringLiteral("times")).toObject()).toJson(), &read.times))
        return false;
    read.transcriptPath = root.value(QStringLiteral("transcript")).toString();
    if (read.transcriptPath.isEmpty())
        return false;
    read.stamp.size = qint64(root.value(QStringLiteral("size")).toDouble());
    read.stamp.modifiedMs = qint64(root.value(QStringLiteral("modified_ms")).toDouble());
    read.stamp.sha256 = root.value(QStringLiteral("sha256")).toString().toLatin1();
    read.text = root.value(QStringLiteral("text")).toString();
    *recovery = read;
    return true;
}

bool save(const QString &folder, const Recovery &recovery)
{
    QString error;
    if (!PrivateFolder::ensure(folder, &error))
        return false;
    const QString path = pathFor(folder, recovery.transcriptPath);
    // Made private before anything is in it; a replacement keeps the old file's mode.
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return WholeFile::write(path, serialize(recovery));
}

bool load(const QString &path, Recovery *recovery)
{
    QFile file(path);
    return !QFileInfo(path).isSymLink() && file.open(QIODevice::ReadOnly)
        && parse(file.readAll(), recovery);
}

bool remove(const QString &folder, const QString &transcriptPath)
{
    const QString path = pathFor(folder, transcriptPath);
    const QFileInfo info(path);
    return (!info.exists() && !info.isSymLink()) || QFile::remove(path);
}

QList<Recovery> pending(const QString &folder)
{
    QList<QPair<qint64, Recovery>> found;
    const QFileInfoList files = QDir(folder).entryInfoList(
        { QStringLiteral("*") + QLatin1String(suffix) }, QDir::Files | QDir::NoSymLinks);
    for (const QFileInfo &info : files) {
        Recovery recovery;
        // Only a file named for its own transcript: one copied over another's name is not it.
        if (load(info.filePath(), &recovery)
            && pathFor(folder, recovery.transcriptPath) == info.filePath())
            found.append({ info.lastModified().toMSecsSinceEpoch(), recovery });
    }
    std::stable_sort(
        found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QList<Recovery> list;
    for (const auto &entry : found)
        list.append(entry.second);
    return list;
}

bool changedSince(const Recovery &recovery)
{
    return !(stampOf(recovery.transcriptPath) == recovery.stamp);
}

} // namespace RecoveryFiles
