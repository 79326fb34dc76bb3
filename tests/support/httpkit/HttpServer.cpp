#include "HttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <sys/socket.h>

namespace httpkit {
namespace {

constexpr qsizetype RequestLogLimit = 1000;

// Ends the connection with a TCP reset rather than an orderly close.
void resetConnection(QTcpSocket *socket)
{
    socket->flush();
    const linger hardClose{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hardClose,
                 sizeof hardClose);
    socket->abort();
}

QByteArray chunked(const QByteArray &body)
{
    QByteArray out;
    const qsizetype piece = std::max<qsizetype>(1, body.size() / 4 + 1);
    for (qsizetype at = 0; at < body.size(); at += piece) {
        const QByteArray chunk = body.mid(at, piece);
        out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

// One byte of the body at a time; `done` once all is sent.
void drip(QTcpSocket *socket, const QByteArray &body, int intervalMs, std::function<void()> done)
{
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, body, sent, done] {
        if (*sent >= body.size()) {
            timer->stop();
            done();
            return;
        }
        socket->write(body.mid((*sent)++, 1));
    });
    timer->start(std::max(1, intervalMs));
}

// Writes `start`, then `piece` over and over for as long as the client reads.
void flood(QTcpSocket *socket, const QByteArray &start, const QByteArray &piece)
{
    const QByteArray block = piece.repeated(std::max<qsizetype>(1, 16 * 1024 / piece.size()));
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, block] {
        if (socket->bytesToWrite() < 4 * block.size())
            socket->write(block);
    });
    socket->write(start + block);
}

} // namespace

Response Response::text(QByteArray body, QByteArray contentType)
{
    return Response(http::Response::text(std::move(body), std::move(contentType)));
}

Response Response::html(QByteArray body, QByteArray charset)
{
    return Response(http::Response::html(std::move(body), std::move(charset)));
}

Response Response::status404()
{
    Response r = html("<html><head><title>404 Not Found</title></head>"
                      "<body><h1>404 Not Found</h1></body></html>");
    r.status = 404;
    return r;
}

Response Response::redirect(QByteArray location, int status)
{
    Response r = html("<html><body>Moved</body></html>");
    r.status = status;
    r.headers.append({"Location", std::move(location)});
    return r;
}

Response &Response::withHeader(QByteArray name, QByteArray value)
{
    http::Response::withHeader(std::move(name), std::move(value));
    return *this;
}

Response Response::dripping(QByteArray body, int intervalMs)
{
    Response r = html(std::move(body)).deliveredAs(Delivery::Drip);
    r.dripIntervalMs = intervalMs;
    return r;
}

Response Response::withStatus(int status) const
{
    Response r = *this;
    r.status = status;
    return r;
}

Response Response::deliveredAs(Delivery how) const
{
    Response r = *this;
    r.delivery = how;
    return r;
}

Response Response::gzipped() const
{
    Response r = *this;
    r.gzip = true;
    return r;
}

quint16 refusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on 127.0.0.1");
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

Server::Server(httpkit::Handler handler, QObject *parent)
    : http::Server(parent)
    , m_handler(std::move(handler))
{
    connect(this, &http::Server::requestReceived, this, &Server::record);
}

Server::~Server() = default;

void Server::setHandler(httpkit::Handler handler)
{
    m_handler = std::move(handler);
}

void Server::record(const Request &request)
{
    // A long-running server keeps only the latest requests.
    if (m_requests.size() >= RequestLogLimit)
        m_requests.removeFirst();
    m_requests.append(request);
}

void Server::answer(QTcpSocket *socket, const Request &request)
{
    const Response response = m_handler ? m_handler(request) : Response::status404();
    const bool isChunked = response.delivery == Response::Delivery::Chunked;
    // A whole answer keeps the connection as the plain server does.
    const bool keepOpen =
        request.keepsAlive() && (isChunked || response.delivery == Response::Delivery::Whole ||
                                 response.delivery == Response::Delivery::Drip);
    QByteArray body = response.encodedBody();
    const QByteArray head = response.head(
        body.size(), isChunked ? Response::Framing::Chunked : Response::Framing::ContentLength,
        keepOpen);
    if (request.method == "HEAD")
        body.clear();

    later(socket, response.delayMs, [this, head, body, response, keepOpen](QTcpSocket *s) {
        switch (response.delivery) {
        case Response::Delivery::Whole:
            s->write(head + body);
            finishAnswer(s, keepOpen);
            break;
        case Response::Delivery::Chunked:
            s->write(head + chunked(body));
            finishAnswer(s, keepOpen);
            break;
        case Response::Delivery::Drip:
            s->write(head);
            drip(s, body, response.dripIntervalMs,
                 [this, s, keepOpen] { finishAnswer(s, keepOpen); });
            break;
        case Response::Delivery::Silent:
            break; // hold the connection open and say nothing
        case Response::Delivery::ResetMidBody:
            s->write(head + body.left(body.size() / 2));
            s->waitForBytesWritten(1000);
            resetConnection(s);
            break;
        case Response::Delivery::CloseAtOnce:
            s->abort();
            break;
        case Response::Delivery::HeaderFlood:
            flood(s, "HTTP/1.1 200 OK\r\n", "X-Flood: " + QByteArray(100, 'a') + "\r\n");
            break;
        case Response::Delivery::StatusLineFlood:
            flood(s, "HTTP/1.1 200 ", "O");
            break;
        case Response::Delivery::ContinueFlood:
            flood(s, QByteArray(), "HTTP/1.1 100 Continue\r\n\r\n");
            break;
        case Response::Delivery::ChunkExtensionFlood:
            flood(s, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;", "x");
            break;
        }
    });
}

} // namespace httpkit
