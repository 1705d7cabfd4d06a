#include "wholefile.h"

#include "core/logging.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#endif

namespace WholeFile {

#ifdef Q_OS_UNIX
namespace {

// Closes a descriptor on every path out.
struct Closer
{
    int fd = -1;
    ~Closer()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool close()
    {
        const int open = std::exchange(fd, -1);
        return ::close(open) == 0;
    }
};

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

Outcome replaceFile(
    const QString &path, const QByteArray &bytes, const std::function<void()> &beforeRename)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty())
        return Outcome::Failed;
    // The folder as it is now, held open: a folder swapped for a link later changes nothing.
    const Closer folder { ::open(
        QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) };
    if (folder.fd < 0)
        return Outcome::Failed;
    struct stat old
    {
    };
    bool replacing = false;
    if (::fstatat(folder.fd, name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(old.st_mode))
            return Outcome::IsLink;
        if (!S_ISREG(old.st_mode))
            return Outcome::Failed;
        replacing = true;
    } else if (errno != ENOENT) {
        return Outcome::Failed;
    }

    // Made new, never opened through a link; a new file's mode as any (0666 less the umask),
    // an old one's kept, as QSaveFile keeps it.
    QByteArray temporary;
    Closer file;
    for (int attempt = 0; attempt < 16 && file.fd < 0; ++attempt) {
        temporary = '.' + name + '.'
            + QByteArray::number(QRandomGenerator::system()->generate(), 36) + ".tmp";
        file.fd = ::openat(folder.fd, temporary.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, replacing ? 0600 : 0666);
        if (file.fd < 0 && errno != EEXIST)
            return Outcome::Failed;
    }
    if (file.fd < 0)
        return Outcome::Failed;
    // On disk before the rename, so a power loss cannot leave the new name on empty blocks.
    const bool ok = (!replacing || ::fchmod(file.fd, old.st_mode & 07777) == 0)
        && writeAll(file.fd, bytes) && ::fsync(file.fd) == 0 && file.close();
    if (ok && beforeRename)
        beforeRename();
    // The rename replaces a link that came meanwhile, never what it points to.
    if (!ok || ::renameat(folder.fd, temporary.constData(), folder.fd, name.constData()) != 0) {
        const int error = errno; // for the log, past the clean-up
        ::unlinkat(folder.fd, temporary.constData(), 0);
        errno = error;
        return Outcome::Failed;
    }
    ::fsync(folder.fd);
    return Outcome::Written;
}
} // namespace
#else
namespace {
Outcome replaceFile(
    const QString &path, const QByteArray &bytes, const std::function<void()> &beforeRename)
{
    if (QFileInfo(path).isSymLink())
        return Outcome::IsLink;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Outcome::Failed;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return Outcome::Failed;
    }
    if (beforeRename)
        beforeRename();
    return commit(file) ? Outcome::Written : Outcome::Failed;
}
} // namespace
#endif

Outcome replace(
    const QString &path, const QByteArray &bytes, const std::function<void()> &beforeRename)
{
    errno = 0;
    const Outcome outcome = replaceFile(path, bytes, beforeRename);
    const int error = errno;
    if (outcome == Outcome::Failed)
        qCWarning(lcCore).noquote()
            << "cannot write" << path << ":" << (error ? std::strerror(error) : "no error number")
            << "errno" << error;
    else if (outcome == Outcome::IsLink)
        qCWarning(lcCore).noquote() << "refused to write through the link" << path;
    return outcome;
}

bool write(const QString &path, const QByteArray &bytes)
{
    return replace(path, bytes) == Outcome::Written;
}

bool commit(QSaveFile &file)
{
    bool ok = file.flush();
#ifdef Q_OS_UNIX
    // On disk before the rename, so a power loss cannot leave the new name on empty blocks.
    ok = ok && ::fsync(file.handle()) == 0;
#endif
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace WholeFile
