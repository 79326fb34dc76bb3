#pragma once

#include <QString>

#include <functional>
#include <sys/types.h>

// The person's own socket taken for the service, one service at a time:
// its folder must be fit (LocalService::fitFolder), and under a lock on a
// file beside it, a live service already there is shared instead of
// replaced, while a socket left by one that died is removed first. At a
// clean end the socket made goes again, unless another has taken its place.
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

    // `bind` makes the socket at `path` (which no longer exists then), or
    // returns false with the reason in its argument.
    Outcome claim(const QString &path, const std::function<bool(QString *)> &bind);
    QString why() const { return m_why; }

private:
    QString m_path;
    QString m_why;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
