#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

// Ends a service that nobody needs any more. It looks every `idle`: it ends
// at a look that finds no copy of the program of the service's own user
// running (it may ask again at any click, however long its user has been
// reading), none there at the look before, and no request since. So it ends
// between one and two idle times after the last request or after the
// program's end, whichever came last. The looks go on while requests come,
// so a program that asks now and then is seen as well.
class IdleShutdown : public QObject
{
    Q_OBJECT
public:
    IdleShutdown(std::chrono::milliseconds idle, QString programPath, QObject *parent = nullptr);

    // A request came: the next look does not end the service.
    void requested();

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
    bool m_asked = false;       // since the last look
};
