#pragma once

// What every benchmark prints: one `name: value` line a figure, and the figures it measures
// the same way.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>

namespace Bench {

inline void figure(const QString &name, const QString &value)
{
    std::printf("%s: %s\n", qPrintable(name), qPrintable(value));
    std::fflush(stdout);
}

inline void figure(const QString &name, double value, int decimals = 2)
{
    figure(name, QString::number(value, 'f', decimals));
}

inline void figure(const char *name, const QString &value)
{
    figure(QString::fromUtf8(name), value);
}

inline void figure(const char *name, double value, int decimals = 2)
{
    figure(QString::fromUtf8(name), value, decimals);
}

// Peak resident memory in MB of a process (0: this one), from the kernel's high-water mark.
inline double peakRssMb(qint64 pid = 0)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status")
                          : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

} // namespace Bench
