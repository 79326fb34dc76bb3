#include "ServiceProbe.h"

#include "FortuneService.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace ServiceProbe {
namespace {

// The user a system install runs the service as (systemd's DynamicUser
// names it after the unit).
constexpr char SystemUser[] = "zhiweige-fortune";
constexpr QByteArrayView Listening = "0A";

// Addresses as the kernel prints them: each 32-bit word in host order.
bool reachesLoopback(QByteArrayView address)
{
    return address == "0100007F" || address == "00000000" ||
           address == "00000000000000000000000000000000" ||
           address == "0000000000000000FFFF00000100007F";
}

void collect(quint16 port, const QByteArray &table, QList<uid_t> &owners)
{
    const QByteArray wantedPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.split('\n');
    // sl local_address rem_address st tx:rx tr:when retrnsmt uid ...
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() < 8 || fields[3] != Listening)
            continue;
        const qsizetype colon = fields[1].lastIndexOf(':');
        if (colon < 0 || fields[1].mid(colon + 1) != wantedPort ||
            !reachesLoopback(QByteArrayView(fields[1]).first(colon)))
            continue;
        bool ok = false;
        const uint uid = fields[7].toUInt(&ok);
        if (ok)
            owners.append(uid_t(uid));
    }
}

QByteArray table(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QList<uid_t> listenerOwners(quint16 port)
{
    QList<uid_t> owners;
    collect(port, table("/proc/net/tcp"), owners);
    collect(port, table("/proc/net/tcp6"), owners);
    return owners;
}

bool trusted(uid_t owner)
{
    if (owner == 0 || owner == ::getuid())
        return true;
    const passwd *system = ::getpwnam(SystemUser);
    return system && system->pw_uid == owner;
}

QString userName(uid_t uid)
{
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

Verdict whoAnswers(quint16 port, std::chrono::milliseconds timeout)
{
    for (const uid_t owner : listenerOwners(port)) {
        if (!trusted(owner))
            return {Holder::AnotherUser, owner};
    }

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    request.setTransferTimeout(int(timeout.count()));
    const std::unique_ptr<QNetworkReply> reply(network.head(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return {Holder::Nothing};
    // Nothing here aborts the reply: only the transfer timeout cancels it.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return {Holder::Silent};
    default:
        break;
    }
    return {reply->rawHeader("Server") == FortuneService::ServerName ? Holder::Ours
                                                                     : Holder::Other};
}

} // namespace ServiceProbe
