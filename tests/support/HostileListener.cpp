#include "HostileListener.h"

#include <QFile>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

HostileListener::HostileListener(const QString &form, quint16 port)
{
    const passwd *nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody) {
        m_whyNot = QStringLiteral("a server of another user (nobody) needs root to start");
        return;
    }
    // A copy where nobody may read it: the source tree may sit where only
    // its owner can enter (root's home).
    m_dir = std::make_unique<QTemporaryDir>();
    const QString script = m_dir->filePath(QStringLiteral("hostile-listener.py"));
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther;
    if (!m_dir->isValid() || !QFile::copy(QStringLiteral(ZHIWEI_HOSTILE_LISTENER), script) ||
        !QFile::setPermissions(m_dir->path(), readable) ||
        !QFile::setPermissions(script, readable)) {
        m_whyNot = QStringLiteral("cannot copy hostile-listener.py where nobody reads it");
        return;
    }
    m_process.setChildProcessModifier([uid = nobody->pw_uid, gid = nobody->pw_gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(127);
    });
    // Debian's own: another python earlier on the PATH may sit where nobody reads.
    m_process.start(QStringLiteral("/usr/bin/python3"), {script, form, QString::number(port)});
    if (!m_process.waitForReadyRead(15000)) {
        m_whyNot = QStringLiteral("hostile-listener.py %1 did not start: %2")
                       .arg(form, QString::fromLocal8Bit(m_process.readAllStandardError()));
        return;
    }
    m_port = quint16(m_process.readLine().trimmed().toUInt());
    if (m_port == 0)
        m_whyNot = QStringLiteral("hostile-listener.py %1 said no port").arg(form);
}

int HostileListener::connections()
{
    m_process.waitForReadyRead(100);
    m_connections += int(m_process.readAllStandardOutput().count("connection\n"));
    return m_connections;
}

HostileListener::~HostileListener()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}
