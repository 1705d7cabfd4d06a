#include "asr/secretstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <qt5keychain/keychain.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "asr/servicesettings.h"

namespace {
const QString KeyringService = QStringLiteral("tovarin");
const QString KeyringKey = QStringLiteral("service-secret");
const qint64 MaxSecretBytes = 64 * 1024;
} // namespace

namespace SecretFile {

bool write(const QString &path, const QString &secret)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    const QByteArray temp = QFile::encodeName(path + QStringLiteral(".new"));
    ::unlink(temp.constData());
    // Created with its final mode: never a moment in which others could open it.
    const int fd = ::open(
        temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    const QByteArray bytes = secret.toUtf8() + '\n';
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

bool read(const QString &path, QString *secret)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxSecretBytes)
        return false;
    QString text = QString::fromUtf8(file.read(MaxSecretBytes));
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    *secret = text;
    return true;
}

bool othersMayAccess(const QString &path)
{
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther
        | QFile::WriteOther;
    return (QFileInfo(path).permissions() & others) != 0;
}

} // namespace SecretFile

SecretStore::SecretStore(QObject *parent)
    : QObject(parent)
    , fileFolder(ServiceSettingsFile::folder())
{
    qRegisterMetaType<SecretStore::Place>();
}

SecretStore::~SecretStore() = default;

QString SecretStore::filePath() const
{
    return fileFolder + QStringLiteral("/secret");
}

QString SecretStore::environmentSecret()
{
    return qEnvironmentVariable("TOVARIN_SERVICE_SECRET");
}

QString SecretStore::placeText(Place place, const QString &file)
{
    switch (place) {
    case Place::Environment:
        return QStringLiteral("密钥取自环境变量 TOVARIN_SERVICE_SECRET。");
    case Place::Keyring:
        return QStringLiteral("密钥保存在系统密钥环中。");
    case Place::File:
        return QStringLiteral("未找到可用的系统密钥环，密钥保存在仅限本人读取的文件 %1 中。")
            .arg(file);
    case Place::None:
        break;
    }
    return QStringLiteral("尚未保存密钥。");
}

int SecretStore::startCall()
{
    return ++call;
}

void SecretStore::read()
{
    const int mine = startCall();
    const QString fromEnvironment = environmentSecret();
    if (!fromEnvironment.isEmpty()) {
        // Told from the loop, as a keyring answer would be.
        QTimer::singleShot(0, this, [this, mine, fromEnvironment] {
            if (mine == call)
                emit readDone(fromEnvironment, Place::Environment);
        });
        return;
    }
    keyringRead();
}

void SecretStore::write(const QString &secret)
{
    startCall();
    if (secret.isEmpty()) {
        QFile::remove(filePath());
        keyringRemove();
        return;
    }
    keyringWrite(secret);
}

// Each keyring job deletes itself when done; an answer after the time limit, or after a newer
// call, is dropped.
void SecretStore::runKeyringJob(QKeychain::Job *job, std::function<void(QKeychain::Job *)> answered,
    std::function<void()> timedOut)
{
    const int mine = call;
    job->setAutoDelete(true);
    job->setKey(KeyringKey);
    auto *limit = new QTimer(this);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this, mine, limit, timedOut] {
        limit->deleteLater();
        if (mine != call)
            return;
        ++call;
        timedOut();
    });
    connect(
        job, &QKeychain::Job::finished, this, [this, mine, limit, answered](QKeychain::Job *done) {
            if (mine != call)
                return;
            ++call;
            limit->stop();
            limit->deleteLater();
            answered(done);
        });
    limit->start(keyringTimeoutMs);
    job->start();
}

void SecretStore::keyringRead()
{
    runKeyringJob(
        new QKeychain::ReadPasswordJob(KeyringService),
        [this](QKeychain::Job *job) {
            const QString secret = static_cast<QKeychain::ReadPasswordJob *>(job)->textData();
            if (job->error() == QKeychain::NoError && !secret.isEmpty())
                emit readDone(secret, Place::Keyring);
            else
                fallBackRead();
        },
        [this] { fallBackRead(); });
}

void SecretStore::fallBackRead()
{
    QString secret;
    if (SecretFile::read(filePath(), &secret) && !secret.isEmpty())
        emit readDone(secret, Place::File);
    else
        emit readDone(QString(), Place::None);
}

void SecretStore::keyringWrite(const QString &secret)
{
    auto *job = new QKeychain::WritePasswordJob(KeyringService);
    job->setTextData(secret);
    runKeyringJob(
        job,
        [this, secret](QKeychain::Job *done) {
            if (done->error() != QKeychain::NoError) {
                fallBackWrite(secret);
                return;
            }
            // Kept in one place only: a file left from a time without keyring goes.
            QFile::remove(filePath());
            emit written(Place::Keyring);
        },
        [this, secret] { fallBackWrite(secret); });
}

void SecretStore::fallBackWrite(const QString &secret)
{
    emit written(SecretFile::write(filePath(), secret) ? Place::File : Place::None);
}

void SecretStore::keyringRemove()
{
    runKeyringJob(
        new QKeychain::DeletePasswordJob(KeyringService),
        [this](QKeychain::Job *) { emit written(Place::None); },
        [this] { emit written(Place::None); });
}
