#pragma once

#include <QString>
#include <QtGlobal>

#include <chrono>

// Who answers where the program would reach the service: this service,
// nothing, some other program, one that hangs up without a word, or a
// server too busy to answer. One small
// HEAD request, its answer's Server header telling this service from
// another program. On a Unix socket under /run or in the person's own folder
// nobody else can have answered; on a TCP port anyone may have.
namespace ServiceProbe {

enum class Holder {
    Nothing, // no socket there, or refused: nobody listens
    Ours,    // answers as this service
    Other,   // answers, but not as this service
    HungUp,  // takes the connection and closes it without a byte (a service
             // that fails to start behind systemd's socket does)
    Silent,  // no answer in time (a flood, a program that reads and waits)
};

Holder atSocket(const QString &path, std::chrono::milliseconds timeout);
Holder atPort(quint16 port, std::chrono::milliseconds timeout);

} // namespace ServiceProbe
