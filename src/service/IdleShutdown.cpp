#include "IdleShutdown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

IdleShutdown::IdleShutdown(std::chrono::milliseconds idle, QString programPath, QObject *parent)
    : QObject(parent)
    , m_programPath(std::move(programPath))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(idle);
    connect(&m_timer, &QTimer::timeout, this, &IdleShutdown::check);
    m_timer.start();
}

void IdleShutdown::restart()
{
    m_timer.start();
}

void IdleShutdown::check()
{
    if (programRuns(m_programPath)) {
        emit stillInUse();
        m_timer.start();
        return;
    }
    emit idle();
}

bool IdleShutdown::programRuns(const QString &path)
{
    const QString wanted = QFileInfo(path).canonicalFilePath();
    if (wanted.isEmpty())
        return false;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isProcess = false;
        entry.toInt(&isProcess);
        if (!isProcess)
            continue;
        const QString process = u"/proc/" + entry;
        // Another user's executable link is not ours to read; its command
        // line is, and a launcher starts the program by its full path.
        QString executable = QFile::symLinkTarget(process + u"/exe");
        if (executable.isEmpty()) {
            QFile commandLine(process + u"/cmdline");
            if (!commandLine.open(QIODevice::ReadOnly))
                continue;
            const QString first = QFile::decodeName(commandLine.read(4096).split('\0').first());
            if (!QDir::isAbsolutePath(first))
                continue;
            executable = QFileInfo(first).canonicalFilePath();
        }
        if (executable == wanted)
            return true;
    }
    return false;
}
