#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

// Ends a service that nobody needs any more: after `idle` without a request,
// unless a copy of the program of the service's own user still runs (it may
// ask again at any click, however long its user has been reading). Then it
// waits another idle time and looks again; once the program has ended, it
// waits one idle time more from then.
class IdleShutdown : public QObject
{
    Q_OBJECT
public:
    IdleShutdown(std::chrono::milliseconds idle, QString programPath, QObject *parent = nullptr);

    // A request came: the idle time starts again.
    void restart();

    // True when a process of this user's runs the program at `path`, or
    // ran the file that an upgrade has since replaced there.
    static bool programRuns(const QString &path);

signals:
    void stillInUse();
    void idle();

private:
    void check();

    QTimer m_timer;
    QString m_programPath;
    bool m_programSeen = false; // at the last look
};
