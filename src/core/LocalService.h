#pragma once

#include <QString>
#include <QUrl>

// Where the program reaches the bundled offline fortune service: over a Unix
// socket whose name only the system (under /run) or the person (in his own
// runtime folder) can make. No other user of the machine can take that name
// first, so whatever answers there is the service, and nothing is left to
// judge about who sent an answer.
//
// Its addresses read unix+http://zhiweige/<path>; the host is only what the
// request's Host header says.
namespace LocalService {

inline constexpr QLatin1StringView Scheme("unix+http");
inline constexpr QLatin1StringView SocketName("fortune.sock");

bool isLocal(const QUrl &url);

// The person's own folder for the socket: $XDG_RUNTIME_DIR/zhiweige, or
// /tmp/zhiweige-<uid> where no login manager set a runtime folder.
QString userFolder();
QString userSocket();

// The socket to reach: the system's (made by systemd, shared by every user)
// where it is there, else the person's own.
QString socketPath(const QString &systemSocket);

// Whether `folder` may hold the person's socket, decided on the folder as
// opened: a folder, not a link to one, owned by him and closed to everybody
// else. With `create` (the service making its folder), a missing one is made
// (its parent must exist) and a folder of his own with more open bits is
// closed first; without it (a client about to connect), an open folder is
// unfit: somebody else may already have put a socket in it. Else false,
// with the reason in `why`.
bool fitFolder(const QString &folder, bool create, QString *why = nullptr);

} // namespace LocalService
