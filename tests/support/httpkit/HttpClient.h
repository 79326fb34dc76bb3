#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <chrono>

// One request at a time through the network stack the program uses, waited
// for up to a bound: what the service tests ask of a server. Over a Unix
// socket, which Qt 6.4's network stack cannot reach, the request is written
// by hand and its answer read up to the close.
namespace httpkit {

struct Answer
{
    bool finished = false; // false: nothing within the wait
    int status = 0;
    QByteArray contentType;
    QByteArray server;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
};

class Client
{
public:
    explicit Client(std::chrono::milliseconds wait = std::chrono::seconds(10));

    Answer get(const QUrl &url) { return send("GET", url); }
    // GET, HEAD or any other method, without a body.
    Answer send(const QByteArray &method, const QUrl &url);
    // GET or HEAD of `target` on the Unix socket at `socket`.
    Answer sendLocal(const QString &socket, const QByteArray &target,
                     const QByteArray &method = "GET");

private:
    QNetworkAccessManager m_network;
    std::chrono::milliseconds m_wait;
};

// http://127.0.0.1:<port><path>
QUrl localUrl(quint16 port, const QByteArray &path);

} // namespace httpkit
