#include "FortuneService.h"

#include "FortunePages.h"

#include <QStringEncoder>

namespace {

constexpr QByteArrayView Utf8 = "utf-8";
constexpr QByteArrayView Gbk = "gbk";
constexpr QByteArrayView DayPrefix = "/astro/view/";

// "YYYYMMDD" with nothing around it; an invalid date otherwise.
QDate dateFromPath(QByteArrayView text)
{
    if (text.size() != 8)
        return {};
    for (const char c : text) {
        if (c < '0' || c > '9')
            return {};
    }
    return QDate::fromString(QString::fromLatin1(text), u"yyyyMMdd");
}

} // namespace

FortuneService::FortuneService(QObject *parent)
    : QObject(parent)
    , m_server(new http::Server([this](const http::Request &r) { return respond(r); }, this))
    , m_clock([] { return QDate::currentDate(); })
    , m_notice("V2")
    , m_charset(Utf8.toByteArray())
{
    connect(m_server, &http::Server::requestReceived, this, &FortuneService::requestReceived);
}

FortuneService::~FortuneService() = default;

bool FortuneService::listen(quint16 port, const QHostAddress &address)
{
    return m_server->listen(address, port);
}

bool FortuneService::listenLocal(const QString &path)
{
    return m_server->listenLocal(path);
}

bool FortuneService::adopt(qintptr socketDescriptor)
{
    return m_server->adopt(socketDescriptor);
}

quint16 FortuneService::port() const
{
    return m_server->port();
}

QString FortuneService::socketPath() const
{
    return m_server->socketPath();
}

QUrl FortuneService::baseUrl() const
{
    return m_server->baseUrl();
}

QString FortuneService::errorString() const
{
    return m_server->errorString();
}

void FortuneService::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock([] { return QDate::currentDate(); });
}

QDate FortuneService::today() const
{
    return m_clock();
}

void FortuneService::setNotice(QByteArray notice)
{
    m_notice = std::move(notice);
}

bool FortuneService::setCharset(QByteArrayView charset)
{
    QByteArray name = charsetName(charset);
    if (name.isEmpty())
        return false;
    m_charset = std::move(name);
    return true;
}

QByteArray FortuneService::charsetName(QByteArrayView charset)
{
    const QByteArray name = charset.toByteArray().toLower();
    if (name == Utf8 || name == "utf8")
        return Utf8.toByteArray();
    if (name == Gbk)
        return Gbk.toByteArray();
    return {};
}

void FortuneService::setHeadDeadline(std::chrono::milliseconds deadline)
{
    m_server->setHeadDeadline(deadline);
}

void FortuneService::setDelayMs(int ms)
{
    m_delayMs = std::max(0, ms);
}

http::Response FortuneService::respond(const http::Request &request) const
{
    http::Response response;
    if (request.method == "GET" || request.method == "HEAD") {
        response = route(request.path());
    } else {
        response = http::Response::text("Only GET and HEAD are served here.\n");
        response.status = 405;
        response.withHeader("Allow", "GET, HEAD");
    }
    response.withHeader("Server", ServerName.toByteArray());
    response.delayMs = m_delayMs;
    return response;
}

http::Response FortuneService::route(const QByteArray &path) const
{
    if (path == "/kwgamejc/xz/jc.txt")
        return http::Response::text(m_notice, "text/plain");
    if (path == "/")
        return htmlPage(FortunePages::indexPage(m_charset));
    if (path == "/bbs/")
        return htmlPage(FortunePages::makerForumPage(m_charset));
    if (path == "/yunfan/")
        return htmlPage(FortunePages::partnerForumPage(m_charset));

    if (path.startsWith(DayPrefix)) {
        // <slug>/day/ or <slug>/day/YYYYMMDD, nothing more
        const QList<QByteArray> segments = path.sliced(DayPrefix.size()).split('/');
        if (segments.size() == 3 && segments[1] == "day") {
            const QString slug = QString::fromLatin1(segments[0]);
            const QDate date = segments[2].isEmpty() ? today() : dateFromPath(segments[2]);
            const QString page = FortunePages::pageForSlug(slug, date, m_charset);
            if (!page.isEmpty())
                return htmlPage(page);
        }
    }
    return htmlPage(FortunePages::notFoundPage(m_charset), 404);
}

http::Response FortuneService::htmlPage(const QString &page, int status) const
{
    QByteArray body;
    if (m_charset == Gbk) {
        QStringEncoder encoder("GB18030");
        body = encoder.encode(page);
    } else {
        body = page.toUtf8();
    }
    http::Response response = http::Response::html(std::move(body), m_charset);
    response.status = status;
    return response;
}
