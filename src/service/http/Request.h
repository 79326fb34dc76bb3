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
    QByteArray rawHead; // request line and header lines, exactly as received
    HeaderList headers;

    QByteArray path() const;
    QByteArray query() const;
    QByteArray header(QByteArrayView name) const { return headerIn(headers, name); }
    bool hasHeader(QByteArrayView name) const;

    // The request whose head, up to the blank line, is `head`; nothing when
    // its first line is not an HTTP request line.
    static std::optional<Request> fromHead(const QByteArray &head);

    // How far the bytes received so far hold a head. Lines end with CR LF or
    // a bare LF, as HTTP/1.1 lets a server accept; a first line that is not
    // a request line (an HTTP/0.9 request, noise) is malformed at once,
    // without waiting for a blank line that may never come.
    enum class HeadState { Incomplete, Complete, Malformed };
    struct HeadScan
    {
        HeadState state = HeadState::Incomplete;
        qsizetype headSize = 0; // the head without its blank line, when complete
    };
    static HeadScan scanHead(QByteArrayView received);
    // METHOD SP target SP HTTP/x, surrounding white space aside.
    static bool isRequestLine(QByteArrayView line);
};

} // namespace http
