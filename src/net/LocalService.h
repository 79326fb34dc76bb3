#pragma once

#include <QString>
#include <QUrl>

#include <sys/types.h>

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

// The person's own socket, in Folder::user().
QString userSocket();

// A folder for the socket, opened once and judged as opened. The socket is
// reached through the folder's descriptor afterwards (address()), so nobody
// who renames folders on the way to it can slip another one in its place
// between the check and the connection.
class Folder
{
public:
    enum class Use {
        Connect, // a client's: the person's own, closed to everybody else
        Own,     // the service's own folder: made where missing, and made 0700
        Given,   // named for the service: the person's own, left as it is
    };

    Folder() = default;
    Folder(const QString &path, Use use);
    // The person's own folder for the socket: zhiweige in his runtime
    // folder, where $XDG_RUNTIME_DIR names one as the XDG base directory
    // rules have it (an absolute path to a folder of the user who runs, mode
    // 0700, not a link); else /tmp/zhiweige-<uid>. A runtime folder of
    // somebody else's (root run with the person's, after sudo -E) or a
    // shared one (/tmp) is not used. Opened by way of the runtime folder as
    // opened, not by its name again.
    static Folder user(Use use);
    ~Folder();
    Folder(Folder &&other) noexcept;
    Folder &operator=(Folder &&other) noexcept;
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Not open because nothing is there: no service made it yet.
    bool isMissing() const { return m_missing; }
    // Why it is not open: "<path>: <reason>".
    QString why() const { return m_why; }
    QString path() const { return m_path; }
    int descriptor() const { return m_fd; }
    // `name` inside the folder as opened (/proc/self/fd/<n>/<name>), to
    // connect to or bind.
    QString address(const QString &name = SocketName) const;
    bool sameFolderAs(const Folder &other) const;
    // Whether `name` inside it is a socket of the user who runs.
    bool holdsOwnSocket(const QString &name = SocketName, QString *why = nullptr) const;

private:
    void open(int base, const QByteArray &name, Use use);

    int m_fd = -1;
    QString m_path;
    QString m_why;
    bool m_missing = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// 0 when something accepts a connection on the Unix socket `address` (a
// full backlog counts), else connect()'s errno. Never waits.
int connectError(const QString &address);

// The socket the program, its probe and its launcher use: the person's own
// where his service listens there (he has one only where the system's did
// not answer him), else the system's where something listens on it, else
// the person's own again, where his service is to be started.
struct Choice
{
    bool system = false;
    QString socket;  // its path, for people to read
    QString address; // to connect to
    Folder folder;   // the person's, while `address` goes through it
    bool listening = false;
    // Why the person's socket is not to be asked at all; empty where it may be.
    QString unfit;
};
// `skipSystem`: the system's socket hung up without answering a moment ago.
Choice choose(const QString &systemSocket, bool skipSystem = false);
// The socket at `path`, taken as the person's own (a test's, or one named
// with --socket): to be asked only where its folder is his alone and the
// socket his. Nothing is asked here: `listening` stays false.
Choice given(const QString &path);

// The socket systemd makes for every user, as this build names it.
QString systemSocket();

} // namespace LocalService
