#pragma once

#include "service/http/Server.h"

#include <QByteArray>
#include <QDate>
#include <QHostAddress>
#include <QObject>
#include <QUrl>

#include <functional>

// The offline stand-in for the fortune site, on a Unix socket or a port of
// this machine:
//   GET /astro/view/<slug>/day/          today's page of a sign
//   GET /astro/view/<slug>/day/YYYYMMDD  that day's page
//   GET /kwgamejc/xz/jc.txt              the version notice ("V2" unless set)
//   GET /bbs/, GET /yunfan/              the two forums the program links to
//   GET /                                an index of the twelve signs
// and a 404 page for everything else. Every answer names the service in its
// Server header, so its probe can tell it from another program there.
class FortuneService : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDate()>;

    explicit FortuneService(QObject *parent = nullptr);
    ~FortuneService() override;

    // Port 0 takes any free port; see port() for the one taken.
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    // A Unix socket at `path`, for its owner alone; see http::Server.
    bool listenLocal(const QString &path);
    // Serves on a socket that already listens, Unix or TCP, handed over at start.
    bool adopt(qintptr socketDescriptor);
    quint16 port() const;       // 0 on a Unix socket
    QString socketPath() const; // empty on TCP
    QUrl baseUrl() const;       // http://127.0.0.1:<port>, no trailing slash; empty on a socket
    QString errorString() const;

    // What "today" is for the undated page; QDate::currentDate() by default.
    void setClock(Clock clock);
    QDate today() const;

    // The body of jc.txt, sent as it is.
    void setNotice(QByteArray notice);
    QByteArray notice() const { return m_notice; }

    // "utf-8" (the default) or "gbk", in any letter case; false, and no
    // change, for anything else. GBK pages are encoded as GB18030, whose
    // two-byte part is GBK: the pages hold no character outside it.
    bool setCharset(QByteArrayView charset);
    // The name pages go out under for `charset`, "utf-8" or "gbk"; empty for
    // a charset setCharset() refuses.
    static QByteArray charsetName(QByteArrayView charset);
    QByteArray charset() const { return m_charset; }

    // Every answer waits this long before its first byte.
    void setDelayMs(int ms);
    int delayMs() const { return m_delayMs; }

    // A client whose request head has not come whole after this long is
    // closed; http::Server::DefaultHeadDeadline unless set.
    void setHeadDeadline(std::chrono::milliseconds deadline);

    // The answer to a request, as the server sends it.
    http::Response respond(const http::Request &request) const;

    // What the Server header of every answer says.
    static constexpr QByteArrayView ServerName = "zhiwei-fortune-service";

signals:
    void requestReceived(const http::Request &request);

private:
    http::Response route(const QByteArray &path) const;
    http::Response htmlPage(const QString &page, int status = 200) const;

    http::Server *m_server;
    Clock m_clock;
    QByteArray m_notice;
    QByteArray m_charset;
    int m_delayMs = 0;
};
