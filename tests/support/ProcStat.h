#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <chrono>

// What /proc tells of a running process, for the tests that measure one.
namespace ProcStat {

// Processor time used so far, user and system; negative when unknown.
std::chrono::milliseconds processorTime(qint64 pid);
// Descriptors it has open; -1 when unknown.
int openDescriptors(qint64 pid);
// Resident memory (VmRSS) and its peak (VmHWM) in bytes; -1 when unknown.
qint64 residentBytes(qint64 pid);
qint64 peakResidentBytes(qint64 pid);
// The processes running the executable at `path` (a zombie runs none),
// those whose command line holds `word` where one is given.
QList<qint64> processesRunning(const QString &path, const QString &word = {});

} // namespace ProcStat
