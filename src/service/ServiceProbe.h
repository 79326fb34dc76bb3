#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <sys/types.h>

// Who holds a port of this machine for the launcher: this service, nothing,
// some other program, a server too busy to answer, or another user. A
// header proves nothing (anyone can send it), so before anything is asked
// of the port, the kernel is asked whose listening socket it is.
namespace ServiceProbe {

enum class Holder {
    Nothing,     // refused: nobody listens
    Ours,        // answers as this service, on a socket the system or the caller owns
    Other,       // answers, but not as this service
    Silent,      // no answer in time (a flood, a program that reads and waits)
    AnotherUser, // listened on by a user who is neither the caller nor the system
};

struct Verdict
{
    Holder holder = Holder::Nothing;
    uid_t owner = 0; // of the listening socket, for AnotherUser
};

// The owners of the sockets listening where a connection to 127.0.0.1:port
// arrives (127.0.0.1 or any address, IPv4 or IPv6), from /proc/net/tcp and
// /proc/net/tcp6.
QList<uid_t> listenerOwners(quint16 port);

// Root (systemd's socket units), the service's own system user, and the
// person asking are trusted; everyone else may be anyone.
bool trusted(uid_t owner);

// The user's name, or the number when it has none.
QString userName(uid_t uid);

Verdict whoAnswers(quint16 port, std::chrono::milliseconds timeout);

} // namespace ServiceProbe
