#include "IdleShutdown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

IdleShutdown::IdleShutdown(std::chrono::milliseconds idle, QString programPath, QObject *parent)
    : QObject(parent)
    , m_programPath(std::move(programPath))
{
    m_timer.setInterval(idle);
    connect(&m_timer, &QTimer::timeout, this, &IdleShutdown::check);
    m_timer.start();
}

void IdleShutdown::requested()
{
    m_asked = true;
}

void IdleShutdown::check()
{
    // A program that was there at the last look has just ended: the idle
    // time counts from its end, not from before it.
    const bool wasRunning = std::exchange(m_programSeen, programRuns(m_programPath));
    const bool asked = std::exchange(m_asked, false);
    if (m_programSeen)
        emit stillInUse();
    if (m_programSeen || wasRunning || asked)
        return;
    m_timer.stop();
    emit idle();
}

bool IdleShutdown::programRuns(const QString &path)
{
    const QByteArray wanted = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    if (wanted.isEmpty())
        return false;
    const uid_t self = ::getuid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isProcess = false;
        entry.toInt(&isProcess);
        if (!isProcess)
            continue;
        // Only this user's: another user's process says what it likes of
        // itself (its command line is its own to write), and is no reason
        // to keep this user's service.
        const QByteArray process = "/proc/" + entry.toLatin1();
        struct stat owner
        {};
        if (::stat(process.constData(), &owner) != 0 || owner.st_uid != self)
            continue;
        // The file the process runs, as the kernel names it: an upgrade that
        // replaced the program since it started leaves " (deleted)" after
        // the same name.
        char target[PATH_MAX];
        const QByteArray link = process + "/exe";
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        if (length <= 0 || size_t(length) >= sizeof target)
            continue;
        QByteArrayView running(target, length);
        if (running.endsWith(" (deleted)"))
            running.chop(10);
        if (running == wanted)
            return true;
    }
    return false;
}
