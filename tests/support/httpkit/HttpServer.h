#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>
#include <utility>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server for the offline fortune service and for the tests.
// Besides plain answers it can misbehave on purpose (drip, stall, reset...),
// because the program must survive servers that do.
namespace httpkit {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

struct Request
{
    QByteArray method;
    QByteArray target;  // path and query as sent
    QByteArray rawHead; // request line and header lines, exactly as received
    HeaderList headers;

    QByteArray path() const;
    QByteArray query() const;
    // Case-insensitive lookup; empty when absent.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
};

struct Response
{
    enum class Delivery {
        Whole,        // headers and body at once
        Chunked,      // Transfer-Encoding: chunked, a few chunks
        Drip,         // one byte of the body every dripIntervalMs
        Silent,       // accept the connection, never answer
        ResetMidBody, // send the headers and half the body, then reset the connection
        CloseAtOnce,  // close the connection without answering
    };

    int status = 200;
    QByteArray reason; // derived from status when empty
    HeaderList headers;
    QByteArray body;
    Delivery delivery = Delivery::Whole;
    bool gzip = false; // gzip the body and say so in Content-Encoding
    int delayMs = 0;   // wait this long before the first byte
    int dripIntervalMs = 1000;

    static Response text(QByteArray body, QByteArray contentType = "text/plain; charset=utf-8");
    static Response html(QByteArray body, QByteArray charset = "utf-8");
    static Response status404();
    static Response redirect(QByteArray location, int status = 302);

    Response &withHeader(QByteArray name, QByteArray value);
    QByteArray headerValue(QByteArrayView name) const;
};

using Handler = std::function<Response(const Request &)>;

class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(Handler handler, QObject *parent = nullptr);
    ~Server() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;
    QUrl baseUrl() const; // http://127.0.0.1:<port>, no trailing slash
    QString errorString() const;

    void setHandler(Handler handler);
    // The latest requests seen, oldest first (at most a thousand).
    const QList<Request> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    int openConnections() const;

signals:
    void requestReceived(const httpkit::Request &request);

private:
    void acceptConnections();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QTcpServer *m_server;
    Handler m_handler;
    QList<Request> m_requests;
};

// Encoders the service and tests share.
QByteArray gzipCompress(const QByteArray &data);
QByteArray reasonPhrase(int status);

} // namespace httpkit
