#pragma once

#include "Request.h"
#include "Response.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <chrono>
#include <functional>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace http {

// A small HTTP/1.1 server: requests read up to a size limit, answered whole,
// at once or after the answer's delay, the connection kept for the next one
// as HTTP/1.1 has it (a client checking who answered finds the far end of
// the connection still there). Shared by
// every user of the machine, so no client may keep it from the others: a
// head must come whole within a deadline, open connections are capped and
// the oldest unfinished one makes room for a newcomer (also when accept()
// finds no descriptor left), and with nothing to make room with accepting
// pauses a moment instead of failing again at once.
class Server : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<Response(const Request &)>;

    explicit Server(Handler handler, QObject *parent = nullptr);
    ~Server() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Serves on a socket that already listens, handed over at start.
    bool adopt(qintptr socketDescriptor);
    quint16 port() const;
    QUrl baseUrl() const; // http://127.0.0.1:<port>, no trailing slash
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

    virtual void answer(QTcpSocket *socket, const Request &request);
    // After an answer: the connection waits for the next head, or closes.
    void finishAnswer(QTcpSocket *socket, bool keepOpen);
    // Runs deliver(socket) after delayMs, unless the connection is gone by then.
    static void later(QTcpSocket *socket, int delayMs, std::function<void(QTcpSocket *)> deliver);

private:
    bool startAccepting(bool listening);
    void acceptConnections();
    void pauseAccepting();
    void awaitHead(QTcpSocket *socket);
    void readRequest(QTcpSocket *socket);
    void badRequest(QTcpSocket *socket);
    void close(QTcpSocket *socket);
    void forget(QTcpSocket *socket);
    void dropHead(QTcpSocket *socket);

    QTcpServer *m_server; // listens; the accepting is ours
    QSocketNotifier *m_acceptable = nullptr;
    Handler m_handler;
    const int m_maxConnections;
    std::chrono::milliseconds m_headDeadline = DefaultHeadDeadline;
    // What has arrived of a head, and where its scan goes on.
    struct Head
    {
        QByteArray received;
        qsizetype resumeAt = 0;
        quint64 serial = 0; // which head of the connection, for its deadline
    };

    QSet<QTcpSocket *> m_connections;
    QList<QTcpSocket *> m_unfinished; // head not yet whole, oldest first
    QHash<QTcpSocket *, Head> m_heads;
    qsizetype m_bufferedHeadBytes = 0;
    quint64 m_headSerial = 0;
    // The most connections open at once since memory was last given back.
    int m_crowd = 0;
    static constexpr int CrowdForTrim = 64;
};

} // namespace http
