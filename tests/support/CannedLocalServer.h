#pragma once

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QString>

class QLocalSocket;

// An HTTP server on a Unix socket, in the test's own process: it answers
// every connection with the same raw bytes, sent as they are once the
// request's head is in, and keeps what each connection sent.
class CannedLocalServer : public QObject
{
    Q_OBJECT
public:
    struct Answer
    {
        QByteArray bytes;   // sent first
        QByteArray endless; // then sent over and over, for as long as the client reads
        bool hold = false;  // else keep the connection open and say nothing more
    };

    explicit CannedLocalServer(Answer answer, QObject *parent = nullptr);

    bool listen(const QString &path) { return m_server.listen(path); }
    QString errorString() const { return m_server.errorString(); }
    // Connections taken, and the request heads that came over them.
    int connections() const { return m_connections; }
    int openConnections() const;
    const QList<QByteArray> &received() const { return m_received; }

private:
    void take(QLocalSocket *socket);
    void answer(QLocalSocket *socket);

    Answer m_answer;
    QLocalServer m_server;
    int m_connections = 0;
    QList<QByteArray> m_received;
};

// Leaves a socket file at `path` that nobody listens on, as a service that
// died leaves it; false where it cannot.
bool leaveStaleSocket(const QString &path);
