#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A server of another user (nobody) on this machine's loopback, as
// hostile-listener.py makes it: it stands in for the offline service from
// a socket that is not the caller's. Needs root.
class HostileListener
{
public:
    // FORM as hostile-listener.py takes it: v4-mapped-wildcard or
    // v6-only-wildcard. Port 0 takes a free one.
    explicit HostileListener(const QString &form, quint16 port = 0);
    ~HostileListener();

    // Why it could not start; empty once it listens.
    QString whyNot() const { return m_whyNot; }
    quint16 port() const { return m_port; }
    // How many connections it has taken so far.
    int connections();

private:
    std::unique_ptr<QTemporaryDir> m_dir; // where nobody reads the script
    QProcess m_process;
    quint16 m_port = 0;
    int m_connections = 0;
    QString m_whyNot;
};
