#pragma once

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <sys/types.h>

// Who holds a port of this machine for the launcher: this service, nothing,
// some other program, a server too busy to answer, or another user. A
// header proves nothing (anyone can send it): once the port has answered,
// the kernel is asked whose socket the far end of that very connection is
// (LoopbackPeer), the same judgement the program makes of every answer it
// reads from the loopback.
namespace ServiceProbe {

enum class Holder {
    Nothing,     // refused: nobody listens
    Ours,        // answers as this service, from a socket the system or the caller owns
    Other,       // answers, but not as this service
    Silent,      // no answer in time (a flood, a program that reads and waits)
    AnotherUser, // answered from a socket of a user who is neither the caller nor the system
    Unknown,     // answers as this service, but whose socket it is cannot be told
};

struct Verdict
{
    Holder holder = Holder::Nothing;
    uid_t owner = 0; // of the far end, for AnotherUser
};

// The user's name, or the number when it has none.
QString userName(uid_t uid);

Verdict whoAnswers(quint16 port, std::chrono::milliseconds timeout);

} // namespace ServiceProbe
