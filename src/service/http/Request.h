#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>
#include <utility>

namespace http {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// Case-insensitive lookup; empty when absent.
QByteArray headerIn(const HeaderList &headers, QByteArrayView name);

// One request as received: its request line and headers. Only GET and HEAD
// are served, so a body is never read.
struct Request
{
    QByteArray method;
    QByteArray target;  // path and query as sent
    QByteArray version; // "HTTP/1.1"
    QByteArray rawHead; // request line and header lines, exactly as received
    HeaderList headers;

    QByteArray path() const;
    QByteArray query() const;
    QByteArray header(QByteArrayView name) const { return headerIn(headers, name); }
    bool hasHeader(QByteArrayView name) const;
    // Whether the client may send another request on the connection: an
    // HTTP/1.1 request that does not ask for the connection to close.
    bool keepsAlive() const;

    // The request whose head, up to the blank line, is `head`; nothing when
    // its first line is not an HTTP request line.
    static std::optional<Request> fromHead(const QByteArray &head);

    // How far the bytes received so far hold a head. Lines end with CR LF or
    // a bare LF, as HTTP/1.1 lets a server accept; a first line that is not
    // a request line (an HTTP/0.9 request, noise) is malformed at once,
    // without waiting for a blank line that may never come.
    // A scan resumes where the last one left off (`from`, its resumeAt),
    // so bytes that arrive a few at a time are each looked at once.
    enum class HeadState { Incomplete, Complete, Malformed };
    struct HeadScan
    {
        HeadState state = HeadState::Incomplete;
        qsizetype headSize = 0; // the head without its blank line, when complete
        qsizetype resumeAt = 0; // where the line not yet ended starts, when incomplete
    };
    static HeadScan scanHead(QByteArrayView received, qsizetype from = 0);
    // METHOD SP target SP HTTP/x, surrounding white space aside.
    static bool isRequestLine(QByteArrayView line);
};

} // namespace http
