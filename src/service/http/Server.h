#pragma once

#include "Request.h"
#include "Response.h"

#include <QHostAddress>
#include <QObject>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

namespace http {

// A small HTTP/1.1 server: one request a connection, read up to a size
// limit, answered whole, at once or after the answer's delay.
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

    // A request head is cut off past this many bytes.
    static constexpr qsizetype MaxHeadBytes = 64 * 1024;

signals:
    void requestReceived(const http::Request &request);

protected:
    // For a server that answers in its own way, through answer().
    explicit Server(QObject *parent);

    virtual void answer(QTcpSocket *socket, const Request &request);
    // Runs deliver(socket) after delayMs, unless the connection is gone by then.
    static void later(QTcpSocket *socket, int delayMs, std::function<void(QTcpSocket *)> deliver);

private:
    void acceptConnections();
    void readRequest(QTcpSocket *socket);

    QTcpServer *m_server;
    Handler m_handler;
};

} // namespace http
