#pragma once

// CPU time, a steadier measure of work than wall time on a machine that others share.

#include <QFile>
#include <QList>

#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace CpuTime {

// Of the calling thread.
inline double thread()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Of the child processes that have ended and been waited for.
inline double children()
{
    rusage u {};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Of a running process, user and system, from the kernel's counters; with `waitedChildren`,
// also of the children it has waited for (a service's ffmpeg decoders).
inline double process(qint64 pid, bool waitedChildren = false)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command name, which may itself hold blanks: utime, stime, cutime and
    // cstime are the 12th to 15th of them.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    double ticks = 0;
    for (int i = 11; i <= (waitedChildren ? 14 : 12); ++i)
        ticks += fields.value(i).toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

} // namespace CpuTime
