#pragma once

#include "net/LocalService.h"

#include <QString>

#include <functional>
#include <sys/types.h>

// A socket taken for the service, one service at a time, in a folder opened
// and judged once (LocalService::Folder) and reached through it from then
// on: under a lock on a file beside the socket, a live service of the same
// user already there is shared instead of replaced, while a socket left by
// one that died is removed first. At a clean end the socket made goes again,
// unless another has taken its place.
class SocketClaim
{
public:
    enum class Outcome {
        Bound,        // `bind` made the socket; it is this process's
        LiveOneThere, // a service listens there already: nothing to do
        Refused,      // see why()
    };

    SocketClaim() = default;
    ~SocketClaim();
    SocketClaim(const SocketClaim &) = delete;
    SocketClaim &operator=(const SocketClaim &) = delete;

    // `bind` makes the socket at the address it is given (where nothing is
    // then), or returns false with the reason in its second argument.
    Outcome claim(LocalService::Folder folder, const QString &name,
                  const std::function<bool(const QString &, QString *)> &bind);
    QString why() const { return m_why; }

private:
    LocalService::Folder m_folder;
    QString m_name;
    QString m_why;
    bool m_bound = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
