#pragma once

#include "Request.h"

#include <QByteArray>
#include <QByteArrayView>

namespace http {

struct Response
{
    // How the end of the body is told: by its length, or by chunks.
    enum class Framing { ContentLength, Chunked };

    int status = 200;
    QByteArray reason; // derived from status when empty
    HeaderList headers;
    QByteArray body;
    bool gzip = false; // gzip the body and say so in Content-Encoding
    int delayMs = 0;   // wait this long before the first byte

    static Response text(QByteArray body, QByteArray contentType = "text/plain; charset=utf-8");
    static Response html(QByteArray body, QByteArray charset = "utf-8");

    Response &withHeader(QByteArray name, QByteArray value);
    QByteArray headerValue(QByteArrayView name) const { return headerIn(headers, name); }

    // The body as it goes out: gzipped when asked.
    QByteArray encodedBody() const;
    // Status line and headers for an encoded body of `bodySize` bytes, with
    // the blank line after them; unless it keeps the connection open for
    // another request, the answer says it closes it.
    QByteArray head(qsizetype bodySize, Framing framing = Framing::ContentLength,
                    bool keepOpen = false) const;
};

QByteArray reasonPhrase(int status);
QByteArray gzipCompress(const QByteArray &data);

} // namespace http
