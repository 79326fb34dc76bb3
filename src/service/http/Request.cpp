#include "Request.h"

#include <algorithm>

namespace http {
namespace {

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray headerIn(const HeaderList &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers) {
        if (sameName(key, name))
            return value;
    }
    return {};
}

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

bool Request::hasHeader(QByteArrayView name) const
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto &h) { return sameName(h.first, name); });
}

bool Request::keepsAlive() const
{
    return version == "HTTP/1.1" &&
           !header("Connection").toLower().split(',').contains(QByteArray("close"));
}

bool Request::isRequestLine(QByteArrayView line)
{
    const QList<QByteArray> parts = line.trimmed().toByteArray().split(' ');
    return parts.size() == 3 && !parts[0].isEmpty() && !parts[1].isEmpty() &&
           parts[2].startsWith("HTTP/");
}

Request::HeadScan Request::scanHead(QByteArrayView received, qsizetype from)
{
    qsizetype lineStart = std::clamp<qsizetype>(from, 0, received.size());
    for (;;) {
        const qsizetype lineEnd = received.indexOf('\n', lineStart);
        if (lineEnd < 0)
            return {HeadState::Incomplete, 0, lineStart};
        QByteArrayView line = received.sliced(lineStart, lineEnd - lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        if (lineStart == 0 && !isRequestLine(line))
            return {HeadState::Malformed, 0};
        if (line.isEmpty())
            return {HeadState::Complete, lineStart};
        lineStart = lineEnd + 1;
    }
}

std::optional<Request> Request::fromHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    if (!isRequestLine(lines.first()))
        return std::nullopt;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    Request request;
    request.method = requestLine[0];
    request.target = requestLine[1];
    request.version = requestLine[2];
    request.rawHead = head;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return request;
}

} // namespace http
