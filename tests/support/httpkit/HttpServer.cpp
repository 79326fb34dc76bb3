#include "HttpServer.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <zlib.h>

namespace httpkit {
namespace {

constexpr qsizetype MaxHeadBytes = 64 * 1024;
constexpr qsizetype RequestLogLimit = 1000;
const char *const PendingProperty = "httpkit.pending";

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray headerIn(const HeaderList &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers) {
        if (sameName(key, name))
            return value;
    }
    return {};
}

bool parseHead(const QByteArray &head, Request &request)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return false;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/"))
        return false;
    request.method = requestLine[0];
    request.target = requestLine[1];
    request.rawHead = head;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

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

} // namespace

QByteArray Request::path() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray Request::query() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

QByteArray Request::header(QByteArrayView name) const
{
    return headerIn(headers, name);
}

bool Request::hasHeader(QByteArrayView name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto &h) { return sameName(h.first, name); });
}

Response Response::text(QByteArray body, QByteArray contentType)
{
    Response r;
    r.body = std::move(body);
    r.headers.append({"Content-Type", std::move(contentType)});
    return r;
}

Response Response::html(QByteArray body, QByteArray charset)
{
    QByteArray type = "text/html";
    if (!charset.isEmpty())
        type += "; charset=" + charset;
    return text(std::move(body), type);
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
    headers.append({std::move(name), std::move(value)});
    return *this;
}

QByteArray Response::headerValue(QByteArrayView name) const
{
    return headerIn(headers, name);
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
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

Server::Server(Handler handler, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_handler(std::move(handler))
{
    connect(m_server, &QTcpServer::newConnection, this, &Server::acceptConnections);
}

Server::~Server() = default;

bool Server::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 Server::port() const
{
    return m_server->serverPort();
}

QUrl Server::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

QString Server::errorString() const
{
    return m_server->errorString();
}

void Server::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

int Server::openConnections() const
{
    return int(findChildren<QTcpSocket *>().size());
}

void Server::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    }
}

void Server::readRequest(QTcpSocket *socket)
{
    QByteArray pending = socket->property(PendingProperty).toByteArray() + socket->readAll();
    const qsizetype end = pending.indexOf("\r\n\r\n");
    if (end < 0) {
        if (pending.size() > MaxHeadBytes)
            socket->abort();
        else
            socket->setProperty(PendingProperty, pending);
        return;
    }
    // One request per connection: every answer says Connection: close.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->setProperty(PendingProperty, QVariant());

    Request request;
    if (!parseHead(pending.left(end + 2), request)) {
        socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    // A long-running server keeps only the latest requests.
    if (m_requests.size() >= RequestLogLimit)
        m_requests.removeFirst();
    m_requests.append(request);
    emit requestReceived(request);
    answer(socket, request);
}

void Server::answer(QTcpSocket *socket, const Request &request)
{
    Response response = m_handler ? m_handler(request) : Response::status404();

    QByteArray body = response.body;
    if (response.gzip)
        body = gzipCompress(body);

    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
        (response.reason.isEmpty() ? reasonPhrase(response.status) : response.reason) + "\r\n";
    for (const auto &[name, value] : std::as_const(response.headers))
        head += name + ": " + value + "\r\n";
    if (response.gzip)
        head += "Content-Encoding: gzip\r\n";
    const bool isChunked = response.delivery == Response::Delivery::Chunked;
    if (isChunked)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (request.method == "HEAD")
        body.clear();

    QPointer<QTcpSocket> guard(socket);
    auto deliver = [guard, head, body, response] {
        QTcpSocket *s = guard.data();
        if (!s)
            return;
        switch (response.delivery) {
        case Response::Delivery::Whole:
            s->write(head + body);
            s->disconnectFromHost();
            break;
        case Response::Delivery::Chunked:
            s->write(head + chunked(body));
            s->disconnectFromHost();
            break;
        case Response::Delivery::Drip: {
            s->write(head);
            auto *timer = new QTimer(s);
            auto sent = std::make_shared<qsizetype>(0);
            QObject::connect(timer, &QTimer::timeout, s, [s, timer, body, sent] {
                if (*sent >= body.size()) {
                    timer->stop();
                    s->disconnectFromHost();
                    return;
                }
                s->write(body.mid((*sent)++, 1));
            });
            timer->start(std::max(1, response.dripIntervalMs));
            break;
        }
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
        }
    };
    if (response.delayMs > 0)
        QTimer::singleShot(response.delayMs, socket, deliver);
    else
        deliver();
}

} // namespace httpkit
