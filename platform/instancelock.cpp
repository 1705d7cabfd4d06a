#include "platform/instancelock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::~InstanceLock()
{
    release();
}

InstanceLock::Result InstanceLock::acquire(const QString &path, QString *error)
{
    release();
    // Not inherited by the programs started from here (the speech service), which would
    // otherwise hold the guard after this process ended.
    fd = ::open(
        QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Result::Acquired;
    const int reason = errno;
    release();
    if (reason == EWOULDBLOCK)
        return Result::HeldElsewhere;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(reason));
    return Result::Failed;
}

void InstanceLock::release()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
