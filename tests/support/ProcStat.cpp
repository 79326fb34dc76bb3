#include "ProcStat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace ProcStat {
namespace {

QByteArray read(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1StringView(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A "Name:   123 kB" line of /proc/<pid>/status, in bytes.
qint64 statusKilobytes(qint64 pid, QByteArrayView name)
{
    for (const QByteArray &line : read(pid, "status").split('\n')) {
        if (line.startsWith(name) && line.mid(name.size()).startsWith(':')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            bool ok = false;
            const qint64 kilobytes = fields.value(1).toLongLong(&ok);
            return ok ? kilobytes * 1024 : -1;
        }
    }
    return -1;
}

} // namespace

std::chrono::milliseconds processorTime(qint64 pid)
{
    // The name in parentheses may hold spaces: count the fields after it.
    const QByteArray stat = read(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::chrono::milliseconds(-1);
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return std::chrono::milliseconds(-1);
    const qint64 ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

int openDescriptors(qint64 pid)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    return fds.exists()
               ? int(fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size())
               : -1;
}

qint64 residentBytes(qint64 pid)
{
    return statusKilobytes(pid, "VmRSS");
}

qint64 peakResidentBytes(qint64 pid)
{
    return statusKilobytes(pid, "VmHWM");
}

QList<qint64> processesRunning(const QString &path, const QString &word)
{
    const QString wanted = QFileInfo(path).canonicalFilePath();
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && !wanted.isEmpty() &&
            QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == wanted &&
            QString::fromLocal8Bit(read(pid, "cmdline")).contains(word))
            pids.append(pid);
    }
    return pids;
}

} // namespace ProcStat
