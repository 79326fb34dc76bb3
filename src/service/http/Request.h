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
};

} // namespace http
