#include "LocalHttpReply.h"

#include <QList>
#include <QPair>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace {

// What the socket may hold for us beyond our own buffer: a server that
// sends faster than the reader reads waits on a full socket.
constexpr qint64 SocketSlice = 64 * 1024;

// Progress while the body comes is told at most this often, as by Qt.
constexpr qint64 ProgressIntervalMs = 100;

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// Where the blank line that ends a head ends, searching from `from`; -1
// when it has not come yet. Bare line feeds end lines too, as in Qt.
qsizetype headEnd(const QByteArray &bytes, qsizetype from)
{
    for (qsizetype at = bytes.indexOf('\n', from); at >= 0; at = bytes.indexOf('\n', at + 1)) {
        if (at + 1 < bytes.size() && bytes[at + 1] == '\n')
            return at + 2;
        if (at + 2 < bytes.size() && bytes[at + 1] == '\r' && bytes[at + 2] == '\n')
            return at + 3;
    }
    return -1;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "HTTP/1.x NNN reason"
bool parseStatusLine(const QByteArray &line, int *status, QByteArray *reason)
{
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || !isDigit(line[7]) || line[8] != ' ' ||
        !isDigit(line[9]) || !isDigit(line[10]) || !isDigit(line[11]))
        return false;
    if (line.size() > 12 && line[12] != ' ')
        return false;
    *status = line.mid(9, 3).toInt();
    *reason = line.mid(13).trimmed();
    return *status >= 100;
}

bool isToken(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        if (c <= ' ' || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c))
            return false;
    }
    return true;
}

// Headers given twice are joined with ", ", as Qt's HTTP does.
bool parseHeaders(const QList<QByteArray> &lines, HeaderList *headers)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon)))
            return false; // a folded line or no header at all
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        auto known = std::find_if(headers->begin(), headers->end(), [&name](const auto &h) {
            return h.first.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (known == headers->end())
            headers->append({name, value});
        else
            known->second += ", " + value;
    }
    return true;
}

QByteArray valueOf(const HeaderList &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

// The body's length; -1 when none is announced, -2 when it cannot be told
// (a bad number, or two different ones).
qint64 announcedLength(const HeaderList &headers)
{
    const QByteArray given = valueOf(headers, "Content-Length");
    if (given.isEmpty())
        return -1;
    qint64 length = -1;
    for (const QByteArray &one : given.split(',')) {
        const QByteArray digits = one.trimmed();
        bool ok = !digits.isEmpty() && digits.size() <= 15 &&
                  std::all_of(digits.begin(), digits.end(), isDigit);
        const qint64 value = ok ? digits.toLongLong(&ok) : -1;
        if (!ok || (length >= 0 && value != length))
            return -2;
        length = value;
    }
    return length;
}

bool isIdentity(const QByteArray &coding)
{
    return coding.isEmpty() || coding.trimmed().compare("identity", Qt::CaseInsensitive) == 0;
}

// The error Qt's HTTP reports, once the answer is read, for a status of 400
// or more.
QNetworkReply::NetworkError errorForStatus(int status)
{
    switch (status) {
    case 400:
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status > 500 ? QNetworkReply::UnknownServerError
                            : QNetworkReply::UnknownContentError;
    }
}

bool isBadHeaderText(const QByteArray &text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

} // namespace

LocalHttpReply::LocalHttpReply(QNetworkAccessManager::Operation op, const QNetworkRequest &request,
                               const QString &socketPath, QObject *parent)
    : QNetworkReply(parent)
{
    begin(op, request);
    m_sinceProgress.start();
    // Started on the next turn, as Qt's replies are: the caller connects
    // its slots first.
    QMetaObject::invokeMethod(
        this, [this, socketPath] { connectTo(socketPath); }, Qt::QueuedConnection);
}

LocalHttpReply::~LocalHttpReply()
{
    // The socket, our child, must not call into a half-destroyed reply.
    dropSocket();
}

void LocalHttpReply::begin(QNetworkAccessManager::Operation op, const QNetworkRequest &request)
{
    setOperation(op);
    setRequest(request);
    setUrl(request.url());
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void LocalHttpReply::abort()
{
    if (m_stage == Stage::Done)
        return;
    m_buffer.clear();
    QNetworkReply::close();
    fail(OperationCanceledError, tr("Operation canceled"));
}

qint64 LocalHttpReply::bytesAvailable() const
{
    return m_buffer.size() + QNetworkReply::bytesAvailable();
}

void LocalHttpReply::setReadBufferSize(qint64 size)
{
    QNetworkReply::setReadBufferSize(size);
    schedulePump();
}

qint64 LocalHttpReply::readData(char *data, qint64 maxSize)
{
    const qint64 count = std::min<qint64>(maxSize, m_buffer.size());
    if (count == 0)
        return m_stage == Stage::Done ? -1 : 0;
    std::memcpy(data, m_buffer.constData(), size_t(count));
    m_buffer.remove(0, count);
    // Room again: take what the socket held back.
    schedulePump();
    return count;
}

void LocalHttpReply::connectTo(const QString &socketPath)
{
    if (m_stage != Stage::Connecting)
        return; // aborted before it began
    m_socketPath = socketPath;
    m_socket = new QLocalSocket(this);
    m_socket->setReadBufferSize(SocketSlice);
    connect(m_socket, &QLocalSocket::connected, this, &LocalHttpReply::sendRequest);
    connect(m_socket, &QLocalSocket::readyRead, this, &LocalHttpReply::pump);
    connect(m_socket, &QLocalSocket::disconnected, this, &LocalHttpReply::pump);
    connect(m_socket, &QLocalSocket::errorOccurred, this, &LocalHttpReply::onSocketError);
    m_socket->connectToServer(socketPath);
}

void LocalHttpReply::sendRequest()
{
    const QUrl target = url();
    QByteArray path = target.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty())
        path = "/";
    if (target.hasQuery())
        path += '?' + target.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = target.host(QUrl::FullyEncoded).toLatin1();
    if (host.isEmpty())
        host = "localhost";
    const bool head = operation() == QNetworkAccessManager::HeadOperation;

    QByteArray out = (head ? "HEAD " : "GET ") + path + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const QByteArray &name : request().rawHeaderList()) {
        const QByteArray value = request().rawHeader(name);
        // Framing is ours to say; the rest is the caller's (If-Modified-Since).
        if (!isToken(name) || isBadHeaderText(value) ||
            name.compare("Host", Qt::CaseInsensitive) == 0 ||
            name.compare("Connection", Qt::CaseInsensitive) == 0 ||
            name.compare("Content-Length", Qt::CaseInsensitive) == 0 ||
            name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            continue;
        out += name + ": " + value + "\r\n";
    }
    out += "Connection: close\r\n\r\n";
    m_stage = Stage::Head;
    m_socket->write(out);
}

void LocalHttpReply::onSocketError(QLocalSocket::LocalSocketError error)
{
    if (m_stage == Stage::Done || !m_socket)
        return;
    if (m_stage != Stage::Connecting) {
        if (error == QLocalSocket::PeerClosedError)
            pump(); // what it sent before closing is still to be read
        else
            fail(RemoteHostClosedError, m_socket->errorString());
        return;
    }
    const QString why = tr("Cannot reach %1: %2").arg(m_socketPath, m_socket->errorString());
    switch (error) {
    case QLocalSocket::ServerNotFoundError:
    case QLocalSocket::ConnectionRefusedError:
    case QLocalSocket::SocketAccessError:
        fail(ConnectionRefusedError, why);
        break;
    case QLocalSocket::SocketTimeoutError:
        fail(TimeoutError, why);
        break;
    default:
        fail(UnknownNetworkError, why);
        break;
    }
}

void LocalHttpReply::schedulePump()
{
    if (m_pumpQueued || m_stage != Stage::Body)
        return;
    m_pumpQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pumpQueued = false;
            pump();
        },
        Qt::QueuedConnection);
}

void LocalHttpReply::pump()
{
    if (m_stage == Stage::Head)
        readHead();
    else if (m_stage == Stage::Body)
        readBody(0);
    if (m_stage != Stage::Head && m_stage != Stage::Body)
        return;
    if (m_socket->state() != QLocalSocket::UnconnectedState || m_socket->bytesAvailable() > 0)
        return;
    // The server closed and all it sent is read.
    if (m_stage == Stage::Body && m_length < 0)
        succeed();
    else if (m_stage == Stage::Body)
        fail(RemoteHostClosedError,
             tr("Connection closed after %1 of %2 bytes").arg(m_received).arg(m_length));
    else
        fail(RemoteHostClosedError, tr("Connection closed before a whole answer head"));
}

void LocalHttpReply::readHead()
{
    while (m_stage == Stage::Head) {
        const qsizetype end = headEnd(m_head, m_scanned);
        if (end < 0) {
            m_scanned = std::max<qsizetype>(0, m_head.size() - 2);
            const qint64 room = HeadLimit - m_headBytes - m_head.size();
            if (room <= 0) {
                fail(ProtocolFailure, tr("Answer head longer than %1 bytes").arg(HeadLimit));
                return;
            }
            const QByteArray more = m_socket->read(room);
            if (more.isEmpty())
                return;
            m_head += more;
            continue;
        }
        const QByteArray head = m_head.left(end);
        QByteArray rest = m_head.mid(end);
        m_head.clear();
        m_scanned = 0;
        m_headBytes += end;
        if (!takeHead(head))
            return;
        if (m_stage == Stage::Head) {
            m_head = rest; // an interim answer; the real one follows
            continue;
        }
        if (m_length >= 0 && rest.size() > m_length)
            rest.truncate(m_length);
        m_buffer = rest;
        m_received = rest.size();
        readBody(rest.size());
    }
}

bool LocalHttpReply::takeHead(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    int status = 0;
    QByteArray reason;
    HeaderList headers;
    if (lines.isEmpty() || !parseStatusLine(lines.takeFirst(), &status, &reason) ||
        !parseHeaders(lines, &headers)) {
        fail(ProtocolFailure, tr("Not an HTTP answer head"));
        return false;
    }
    if (status < 200)
        return true; // 100 Continue and the like say nothing of the answer
    const qint64 length = announcedLength(headers);
    if (length == -2) {
        fail(ProtocolFailure, tr("Unreadable Content-Length"));
        return false;
    }
    if (!isIdentity(valueOf(headers, "Transfer-Encoding")) ||
        !isIdentity(valueOf(headers, "Content-Encoding"))) {
        fail(ProtocolFailure, tr("Coded answers are not taken"));
        return false;
    }

    for (const auto &[name, value] : headers)
        setRawHeader(name, value);
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(reason));
    if (status >= 300 && status < 400 && !valueOf(headers, "Location").isEmpty())
        setAttribute(QNetworkRequest::RedirectionTargetAttribute,
                     QUrl::fromEncoded(valueOf(headers, "Location")));
    const bool noBody =
        operation() == QNetworkAccessManager::HeadOperation || status == 204 || status == 304;
    m_length = noBody ? 0 : length;
    m_stage = Stage::Body;
    QPointer<LocalHttpReply> alive(this);
    emit metaDataChanged();
    return alive && m_stage == Stage::Body;
}

void LocalHttpReply::readBody(qint64 fresh)
{
    for (;;) {
        qint64 room = readBufferSize() > 0 ? readBufferSize() - m_buffer.size() : SocketSlice;
        if (m_length >= 0)
            room = std::min(room, m_length - m_received);
        if (room <= 0)
            break;
        const QByteArray more = m_socket->read(room);
        if (more.isEmpty())
            break;
        m_buffer += more;
        m_received += more.size();
        fresh += more.size();
    }
    QPointer<LocalHttpReply> alive(this);
    if (fresh > 0) {
        // Qt's order: the data first, then the progress.
        emit readyRead();
        if (!alive || m_stage != Stage::Body)
            return;
        if (m_sinceProgress.elapsed() >= ProgressIntervalMs) {
            m_sinceProgress.restart();
            emit downloadProgress(m_received, m_length);
            if (!alive || m_stage != Stage::Body)
                return;
        }
    }
    if (m_length >= 0 && m_received >= m_length)
        succeed();
}

void LocalHttpReply::fail(NetworkError error, const QString &why)
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    dropSocket();
    setError(error, why);
    QPointer<LocalHttpReply> alive(this);
    emit errorOccurred(error);
    if (alive)
        end();
}

void LocalHttpReply::succeed()
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    dropSocket();
    const int status = attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const NetworkError error = errorForStatus(status);
        setError(error, tr("Error transferring %1 - server replied: %2")
                            .arg(url().toString(),
                                 attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
        QPointer<LocalHttpReply> alive(this);
        emit errorOccurred(error);
        if (!alive)
            return;
    }
    end();
}

// Qt's last signals of a reply, whatever its outcome.
void LocalHttpReply::end()
{
    setFinished(true);
    QPointer<LocalHttpReply> alive(this);
    emit downloadProgress(m_received, m_length < 0 ? m_received : m_length);
    if (!alive)
        return;
    emit readChannelFinished();
    if (alive)
        emit finished();
}

void LocalHttpReply::dropSocket()
{
    if (!m_socket)
        return;
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
}
