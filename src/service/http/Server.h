#pragma once

#include "Request.h"
#include "Response.h"

#include "Connection.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>

class QSocketNotifier;

namespace http {

// A small HTTP/1.1 server on a Unix socket or a TCP port, the same code for
// both: requests read up to a size limit, answered whole, at once or after
// the answer's delay, the connection kept for the next one as HTTP/1.1 has
// it, whose head is read once the answer before it has gone out. Shared by every user of the machine, so no client may keep it from
// the others: a head must come whole within a deadline, open connections
// are capped and the oldest unfinished one makes room for a newcomer (also
// when accept() finds no descriptor left), and with nothing to make room
// with accepting pauses a moment instead of failing again at once. A head
// that does not come in one piece is read again only now and then, not at
// every byte: a client dripping bytes costs the server almost nothing.
class Server : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<Response(const Request &)>;

    explicit Server(Handler handler, QObject *parent = nullptr);
    ~Server() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Binds a Unix socket at `path`, which must not exist; only its owner
    // may connect (mode 0600).
    bool listenLocal(const QString &path);
    // Serves on a stream socket that already listens, Unix or TCP, handed
    // over at start.
    bool adopt(qintptr socketDescriptor);
    quint16 port() const;       // 0 on a Unix socket
    QString socketPath() const; // the Unix socket's path; empty on TCP
    QUrl baseUrl() const; // http://127.0.0.1:<port>, no trailing slash; empty on a Unix socket
    QString errorString() const;

    void setHandler(Handler handler);
    int openConnections() const;
    // Open connections whose request has come and whose answer is under way
    // (not those waiting for a head, the first or the next).
    int answeringConnections() const { return int(m_connections.size() - m_unfinished.size()); }
    // How long a connection has for its whole request head.
    void setHeadDeadline(std::chrono::milliseconds deadline) { m_headDeadline = deadline; }

    // A request head is cut off past this many bytes; what a client sends
    // after its head is kept to the same bound. All heads still arriving
    // hold at most MaxBufferedHeadBytes together: past it, the oldest
    // unfinished connection is closed.
    static constexpr qsizetype MaxHeadBytes = 8 * 1024;
    static constexpr qsizetype MaxBufferedHeadBytes = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds DefaultHeadDeadline{10000};
    static constexpr std::chrono::milliseconds AcceptPause{100};
    // A head that came in pieces is read again after ReadPace, then each
    // time after PaceGrowth times as long as the last wait. Every read
    // costs the server for each piece the client sent, however small
    // (a Unix socket keeps each write apart): a client dripping bytes is
    // read only a few times before its deadline.
    static constexpr std::chrono::milliseconds ReadPace{150};
    static constexpr int PaceGrowth = 4;
    // The most connections open at once, taken when the server is made: half
    // the soft descriptor limit, clamped to 16..4096, and 4096 when the limit
    // is unlimited or cannot be read. Below a limit of 32 the floor of 16 is
    // more than half, and the server can run into the limit.
    static int defaultMaxConnections();

signals:
    void requestReceived(const http::Request &request);

protected:
    // For a server that answers in its own way, through answer().
    explicit Server(QObject *parent);

    virtual void answer(Connection *connection, const Request &request);
    // After an answer: the connection waits for the next head, or closes.
    void finishAnswer(Connection *connection, bool keepOpen);
    // Runs deliver(connection) after delayMs, unless the connection is gone by then.
    static void later(Connection *connection, int delayMs,
                      std::function<void(Connection *)> deliver);

private:
    friend class Connection;

    bool startAccepting(int listener);
    void acceptConnections();
    void pauseAccepting();
    void awaitHead(Connection *connection);
    void readHead(Connection *connection);
    void judgeHead(Connection *connection, bool ended);
    void readPaced();
    void noticeHangUp(Connection *connection);
    void outputDrained(Connection *connection);
    void closeOverdue();
    void badRequest(Connection *connection);
    void closeOldestUnfinished();
    void forget(Connection *connection);
    void dropHead(Connection *connection);

    int m_listener = -1;
    QString m_socketPath;
    QString m_error;
    QSocketNotifier *m_acceptable = nullptr;
    Handler m_handler;
    const int m_maxConnections;
    std::chrono::milliseconds m_headDeadline = DefaultHeadDeadline;

    QSet<Connection *> m_connections;
    // Heads not yet whole, oldest first by their serial; the first is also
    // the first whose deadline runs out.
    std::map<quint64, Connection *> m_unfinished;
    QTimer m_deadline;
    // Connections whose head came in pieces: read again at the next pace.
    QSet<Connection *> m_paced;
    QTimer m_pace;
    QElapsedTimer m_clock;
    qsizetype m_bufferedHeadBytes = 0;
    quint64 m_headSerial = 0;
    // The most connections open at once since memory was last given back.
    int m_crowd = 0;
    static constexpr int CrowdForTrim = 64;
};

} // namespace http
