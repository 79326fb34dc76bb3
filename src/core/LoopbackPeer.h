#pragma once

#include <QByteArrayView>
#include <QSet>
#include <QUrl>
#include <QtGlobal>

#include <functional>
#include <sys/types.h>

// Whom this process is talking to on the loopback. Any user of the machine
// may listen on a port of 127.0.0.1, and an answer can claim to be anyone's:
// only the kernel knows who owns the far end of a connection. It tells in
// /proc/net/tcp and /proc/net/tcp6, one row per socket: the near end of
// each of this process's connections (found by the socket's inode), and
// the far end, the same two addresses crossed, with its owner's uid.
//
// Judged on the connections this process holds to the port once an answer
// has come over one of them: trusted when there is at least one and the far
// end of each belongs to a trusted user. Whatever cannot be told (no
// connection left, a table that cannot be read or understood, a far end
// whose socket no process holds any more, whose owner the kernel no longer
// names) is not trusted.
namespace LoopbackPeer {

struct Verdict
{
    enum Kind {
        Trusted, // every far end is a trusted user's
        Foreign, // a far end is another user's: owner
        Unknown, // nothing to tell by
    };
    Kind kind = Unknown;
    uid_t owner = 0;

    bool trusted() const { return kind == Trusted; }
};

using TrustedOwner = std::function<bool(uid_t)>;

// From the two tables' text and the inodes of this process's sockets.
Verdict judge(QByteArrayView tcp, QByteArrayView tcp6, const QSet<quint64> &ownSockets,
              quint16 port, const TrustedOwner &trusted);

// The same, for this process now.
Verdict ofConnectionsTo(quint16 port);

// Root (which holds systemd's sockets), the offline service's own system
// user and the user running this process.
bool trustedOwner(uid_t owner);

// Whether the address's host is this machine's loopback (127.0.0.0/8, ::1,
// localhost), where any local user may be the one listening.
bool isLoopback(const QUrl &url);

} // namespace LoopbackPeer
