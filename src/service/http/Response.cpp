#include "Response.h"

namespace http {

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

Response &Response::withHeader(QByteArray name, QByteArray value)
{
    headers.append({std::move(name), std::move(value)});
    return *this;
}

QByteArray Response::head(qsizetype bodySize, bool keepOpen) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' +
                     (reason.isEmpty() ? reasonPhrase(status) : reason) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
    if (!keepOpen)
        out += "Connection: close\r\n";
    out += "\r\n";
    return out;
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
    case 405:
        return "Method Not Allowed";
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

} // namespace http
