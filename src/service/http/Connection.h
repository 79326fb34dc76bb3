#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace http {

class Server;

// One client's connection on a non-blocking descriptor, a Unix socket or a
// TCP one alike. Kept small: the service holds thousands of them for every
// user of the machine. Its object outlives the connection until the event
// loop's next turn, so work delayed for it asks isOpen() first (or takes the
// object as the context of its timer, which ends with it).
class Connection : public QObject
{
    Q_OBJECT
public:
    ~Connection() override;

    // Queued, and sent as fast as the client takes it.
    void write(const QByteArray &bytes);
    qsizetype bytesToWrite() const { return m_output.size() - m_sent; }
    // Ends the connection once everything queued has gone out.
    void close();
    // Ends it at once; what is still queued is dropped.
    void abort();
    bool isOpen() const { return m_fd >= 0; }

signals:
    // Some of what was queued went out.
    void bytesWritten();

private:
    friend class Server;

    Connection(int fd, Server *server);
    bool sendQueued();
    void release();

    int m_fd;
    Server *m_server;
    QSocketNotifier *m_readable;
    QSocketNotifier *m_writable = nullptr; // made at the first write
    QByteArray m_output;
    qsizetype m_sent = 0;
    bool m_closing = false;

    // The server's: what has arrived of the head awaited, where its scan
    // goes on, which head it is (0: none awaited) and since when.
    QByteArray m_head;
    qsizetype m_resumeAt = 0;
    quint64 m_headSerial = 0;
    qint64 m_awaitedAt = 0;
    // Read again at the next pace that is at or after m_readAt; each read
    // of the same head waits longer than the one before.
    bool m_paced = false;
    quint8 m_pacedReads = 0;
    qint64 m_readAt = 0;
};

} // namespace http
