#include "WaitUntil.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop turn;
        QTimer::singleShot(1, &turn, &QEventLoop::quit);
        turn.exec();
    }
    return true;
}
