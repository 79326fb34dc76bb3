#pragma once

#include "Request.h"

#include <QByteArray>
#include <QByteArrayView>

namespace http {

struct Response
{
    int status = 200;
    QByteArray reason; // derived from status when empty
    HeaderList headers;
    QByteArray body;
    int delayMs = 0; // wait this long before the first byte

    static Response text(QByteArray body, QByteArray contentType = "text/plain; charset=utf-8");
    static Response html(QByteArray body, QByteArray charset = "utf-8");

    Response &withHeader(QByteArray name, QByteArray value);
    QByteArray headerValue(QByteArrayView name) const { return headerIn(headers, name); }

    // Status line and headers for a body of `bodySize` bytes, its length
    // told, with the blank line after them; unless it keeps the connection
    // open for another request, the answer says it closes it.
    QByteArray head(qsizetype bodySize, bool keepOpen = false) const;
};

QByteArray reasonPhrase(int status);

} // namespace http
