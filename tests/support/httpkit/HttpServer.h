#pragma once

#include "service/http/Request.h"
#include "service/http/Response.h"
#include "service/http/Server.h"

#include <QByteArray>
#include <QList>

#include <functional>

// The offline service's HTTP server, for the tests: besides plain answers it
// can misbehave on purpose (drip, stall, reset...), because the program must
// survive servers that do. It also keeps the requests it saw.
namespace httpkit {

using HeaderList = http::HeaderList;
using Request = http::Request;

struct Response : http::Response
{
    enum class Delivery {
        Whole,        // headers and body at once
        Chunked,      // Transfer-Encoding: chunked, a few chunks
        Drip,         // one byte of the body every dripIntervalMs
        Silent,       // accept the connection, never answer
        ResetMidBody, // send the headers and half the body, then reset the connection
        CloseAtOnce,  // close the connection without answering
        // Answers that never end before the body: endless header lines, an
        // endless status line, endless "100 Continue" answers, or an endless
        // extension on the first chunk.
        HeaderFlood,
        StatusLineFlood,
        ContinueFlood,
        ChunkExtensionFlood,
    };

    Delivery delivery = Delivery::Whole;
    int dripIntervalMs = 1000;
    bool gzip = false; // gzip the body and say so in Content-Encoding

    Response() = default;
    explicit Response(http::Response plain)
        : http::Response(std::move(plain))
    {}

    static Response text(QByteArray body, QByteArray contentType = "text/plain; charset=utf-8");
    static Response html(QByteArray body, QByteArray charset = "utf-8");
    static Response status404();
    static Response redirect(QByteArray location, int status = 302);

    // An HTML page whose body comes one byte every intervalMs.
    static Response dripping(QByteArray body, int intervalMs);

    Response &withHeader(QByteArray name, QByteArray value);
    // Changed copies, for the rows of a test's table.
    Response withStatus(int status) const;
    Response deliveredAs(Delivery how) const;
    Response gzipped() const;

    // The body as it goes out, gzipped when asked; and the head for it,
    // which tells its length or that chunks follow.
    QByteArray encodedBody() const;
    QByteArray head(qsizetype bodySize, bool chunked = false, bool keepOpen = false) const;
};

QByteArray gzipCompress(const QByteArray &data);

// A port on 127.0.0.1 that nothing listens on: taken from the system, then
// given back.
quint16 refusedPort();

using Handler = std::function<Response(const Request &)>;

class Server : public http::Server
{
    Q_OBJECT
public:
    // Spelled out: inside the class, Handler alone is the plain server's.
    explicit Server(httpkit::Handler handler, QObject *parent = nullptr);
    ~Server() override;

    void setHandler(httpkit::Handler handler);
    // The latest requests seen, oldest first (at most a thousand).
    const QList<Request> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

protected:
    void answer(http::Connection *connection, const Request &request) override;

private:
    void record(const Request &request);

    httpkit::Handler m_handler;
    QList<Request> m_requests;
};

using http::reasonPhrase;

} // namespace httpkit
