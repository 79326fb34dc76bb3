#include "HttpServer.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <memory>
#include <sys/socket.h>
#include <zlib.h>

namespace httpkit {
namespace {

constexpr qsizetype RequestLogLimit = 1000;

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

// Ends the connection with a TCP reset (SO_LINGER 0) once what is queued
// has gone out.
void resetWhenSent(http::Connection *connection)
{
    const auto reset = [connection] {
        if (connection->bytesToWrite() > 0)
            return;
        // The connection's descriptor, as its notifiers watch it.
        const linger hardClose{1, 0};
        ::setsockopt(int(connection->findChild<QSocketNotifier *>()->socket()), SOL_SOCKET,
                     SO_LINGER, &hardClose, sizeof hardClose);
        connection->abort();
    };
    QObject::connect(connection, &http::Connection::bytesWritten, connection, reset);
}

// One byte of the body at a time; `done` once all is sent.
void drip(http::Connection *connection, const QByteArray &body, int intervalMs,
          std::function<void()> done)
{
    auto *timer = new QTimer(connection);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, connection, [connection, timer, body, sent, done] {
        if (*sent >= body.size()) {
            timer->stop();
            done();
            return;
        }
        connection->write(body.mid((*sent)++, 1));
    });
    timer->start(std::max(1, intervalMs));
}

// Writes `start`, then `piece` over and over for as long as the client reads.
void flood(http::Connection *connection, const QByteArray &start, const QByteArray &piece)
{
    const QByteArray block = piece.repeated(std::max<qsizetype>(1, 16 * 1024 / piece.size()));
    QObject::connect(connection, &http::Connection::bytesWritten, connection, [connection, block] {
        if (connection->bytesToWrite() < 4 * block.size())
            connection->write(block);
    });
    connection->write(start + block);
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

QByteArray Response::encodedBody() const
{
    return gzip ? gzipCompress(body) : body;
}

QByteArray Response::head(qsizetype bodySize, bool chunked, bool keepOpen) const
{
    http::Response plain = *this;
    if (gzip)
        plain.withHeader("Content-Encoding", "gzip");
    QByteArray out = plain.head(bodySize, keepOpen);
    if (chunked)
        out.replace(QByteArray("Content-Length: " + QByteArray::number(bodySize) + "\r\n"),
                    "Transfer-Encoding: chunked\r\n");
    return out;
}

QByteArray gzipCompress(const QByteArray &data)
{
    z_stream stream{};
    // 15 + 16: a gzip wrapper instead of zlib's
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))) + 32, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
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

void Server::answer(http::Connection *connection, const Request &request)
{
    const Response response = m_handler ? m_handler(request) : Response::status404();
    const bool isChunked = response.delivery == Response::Delivery::Chunked;
    // A whole answer keeps the connection as the plain server does.
    const bool keepOpen =
        request.keepsAlive() && (isChunked || response.delivery == Response::Delivery::Whole ||
                                 response.delivery == Response::Delivery::Drip);
    QByteArray body = response.encodedBody();
    const QByteArray head = response.head(body.size(), isChunked, keepOpen);
    if (request.method == "HEAD")
        body.clear();

    later(connection, response.delayMs,
          [this, head, body, response, keepOpen](http::Connection *c) {
              switch (response.delivery) {
              case Response::Delivery::Whole:
                  c->write(head + body);
                  finishAnswer(c, keepOpen);
                  break;
              case Response::Delivery::Chunked:
                  c->write(head + chunked(body));
                  finishAnswer(c, keepOpen);
                  break;
              case Response::Delivery::Drip:
                  c->write(head);
                  drip(c, body, response.dripIntervalMs,
                       [this, c, keepOpen] { finishAnswer(c, keepOpen); });
                  break;
              case Response::Delivery::Silent:
                  break; // hold the connection open and say nothing
              case Response::Delivery::ResetMidBody:
                  // Handed to the kernel before the reset, so the half does go out.
                  c->write(head + body.left(body.size() / 2));
                  resetWhenSent(c);
                  break;
              case Response::Delivery::CloseAtOnce:
                  c->abort();
                  break;
              case Response::Delivery::HeaderFlood:
                  flood(c, "HTTP/1.1 200 OK\r\n", "X-Flood: " + QByteArray(100, 'a') + "\r\n");
                  break;
              case Response::Delivery::StatusLineFlood:
                  flood(c, "HTTP/1.1 200 ", "O");
                  break;
              case Response::Delivery::ContinueFlood:
                  flood(c, QByteArray(), "HTTP/1.1 100 Continue\r\n\r\n");
                  break;
              case Response::Delivery::ChunkExtensionFlood:
                  flood(c, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;", "x");
                  break;
              }
          });
}

} // namespace httpkit
