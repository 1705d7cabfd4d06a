#include "platform/privatefolder.h"

#include "platform/logging.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const qint64 MaxPrivateFileBytes = 4096;

// What the caller shows, "path：reason"; the log keeps the error number too.
QString failure(const QString &path)
{
    const int error = errno;
    const QString text = QString::fromLocal8Bit(std::strerror(error));
    qCWarning(lcPlatform).noquote() << "cannot open" << path << ":" << text << "errno" << error;
    return QStringLiteral("%1：%2").arg(path, text);
}

// Checked on the open descriptor, so nothing can be swapped in between.
bool privateAndOurs(int fd, mode_t type, const QString &path, QString *error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != type) {
        *error = QStringLiteral("%1 不是%2")
                     .arg(path,
                         type == S_IFDIR ? QStringLiteral("文件夹") : QStringLiteral("普通文件"));
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 属于其他用户").arg(path);
        return false;
    }
    if (!(st.st_mode & (S_IRWXG | S_IRWXO)))
        return true;
    // A folder is narrowed; a file others could read is no secret any more.
    if (type != S_IFDIR || ::fchmod(fd, st.st_mode & S_IRWXU) != 0) {
        *error = QStringLiteral("%1 可被其他用户访问").arg(path);
        return false;
    }
    return true;
}

} // namespace

bool PrivateFolder::ensure(const QString &folder, QString *error)
{
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink()) {
        QDir().mkpath(info.absolutePath());
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
    }
    const int fd = ::open(
        QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = failure(folder);
        return false;
    }
    const bool ok = privateAndOurs(fd, S_IFDIR, folder, error);
    ::close(fd);
    return ok;
}

QByteArray PrivateFolder::readOrCreate(
    const QString &path, const QByteArray &contentsIfNew, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const bool written = ::write(fd, contentsIfNew.constData(), size_t(contentsIfNew.size()))
            == contentsIfNew.size();
        ::close(fd);
        if (written)
            return contentsIfNew;
        ::unlink(name.constData());
        *error = failure(path);
        return QByteArray();
    }
    fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = failure(path);
        return QByteArray();
    }
    QByteArray contents;
    if (privateAndOurs(fd, S_IFREG, path, error)) {
        contents.resize(int(MaxPrivateFileBytes));
        const ssize_t got = ::read(fd, contents.data(), size_t(contents.size()));
        contents.resize(got > 0 ? int(got) : 0);
        if (contents.isEmpty())
            *error = QStringLiteral("%1 是空文件").arg(path);
    }
    ::close(fd);
    return contents;
}
