#pragma once

#include <QString>

// Sockets handed over at start by systemd, or by systemd-socket-activate, by
// their protocol: LISTEN_PID names this process, LISTEN_FDS counts the
// sockets, which start at descriptor 3. Read by hand rather than through
// libsystemd, which would be one more library for three lines.
namespace SocketActivation {

constexpr int FirstSocket = 3;

// How many sockets this process was handed; 0 when it was started otherwise.
// The variables are unset, so nothing this process starts takes them for its own.
int takeHandedSockets();

// Why `fd` cannot be served on, or nothing when it is a listening stream
// socket, Unix or TCP.
QString whyNotListening(int fd);

} // namespace SocketActivation
