#include "LoopbackPeer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QList>

#include <algorithm>
#include <array>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace LoopbackPeer {
namespace {

// The user a system install runs the offline service as (systemd's
// DynamicUser names it after the unit).
constexpr char ServiceUser[] = "zhiweige-fortune";
// Tables larger than this are not read whole: past it, nothing is told.
constexpr qint64 MaxTableBytes = 64 * 1024 * 1024;

constexpr QByteArrayView Established = "01";
constexpr QByteArrayView TimeWait = "06";
constexpr QByteArrayView Listening = "0A";

// An address and port as one comparable value: IPv4 as IPv4-mapped IPv6.
struct Endpoint
{
    std::array<quint8, 16> address{};
    quint16 port = 0;

    bool operator==(const Endpoint &other) const = default;

    bool isLoopback() const
    {
        constexpr std::array<quint8, 16> v6Loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        const bool mapped =
            std::all_of(address.begin(), address.begin() + 10, [](quint8 b) { return b == 0; }) &&
            address[10] == 0xff && address[11] == 0xff;
        return address == v6Loopback || (mapped && address[12] == 127);
    }
};

// "0100007F:4737" as the kernel prints it: each 32-bit word of the address
// in the machine's own byte order, the port in hex. Nothing for any other
// form.
std::optional<Endpoint> endpoint(QByteArrayView text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon != 8 && colon != 32)
        return std::nullopt;
    bool ok = false;
    const uint port = text.sliced(colon + 1).toByteArray().toUInt(&ok, 16);
    if (!ok || port > 0xffff || text.size() - colon - 1 != 4)
        return std::nullopt;
    Endpoint out;
    out.port = quint16(port);
    const qsizetype words = colon / 8;
    const qsizetype first = words == 1 ? 3 : 0; // IPv4 lands in the last word
    if (words == 1) {
        out.address[10] = 0xff;
        out.address[11] = 0xff;
    }
    for (qsizetype w = 0; w < words; ++w) {
        const uint value = text.sliced(w * 8, 8).toByteArray().toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        // The word as it lies in memory, which is network order.
        const quint32 native = quint32(value);
        const auto *bytes = reinterpret_cast<const quint8 *>(&native);
        for (int b = 0; b < 4; ++b)
            out.address[size_t((first + w) * 4 + b)] = bytes[b];
    }
    return out;
}

struct Row
{
    Endpoint local;
    Endpoint remote;
    QByteArray state;
    uid_t owner = 0;
    quint64 inode = 0;
};

// The rows of one table; nothing when a row is not understood.
std::optional<QList<Row>> rows(QByteArrayView table)
{
    QList<Row> out;
    const QList<QByteArray> lines = table.toByteArray().split('\n');
    if (lines.isEmpty() || !lines.first().trimmed().startsWith("sl"))
        return std::nullopt;
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when
    // retrnsmt uid timeout inode ...
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() == 1 && fields.first().isEmpty())
            continue;
        if (fields.size() < 10)
            return std::nullopt;
        const auto local = endpoint(fields[1]);
        const auto remote = endpoint(fields[2]);
        bool uidOk = false;
        bool inodeOk = false;
        const uint owner = fields[7].toUInt(&uidOk);
        const quint64 inode = fields[9].toULongLong(&inodeOk);
        if (!local || !remote || fields[3].size() != 2 || !uidOk || !inodeOk)
            return std::nullopt;
        out.append({*local, *remote, fields[3], uid_t(owner), inode});
    }
    return out;
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // /proc files say they are empty: read until a read brings nothing.
    QByteArray bytes;
    while (bytes.size() <= MaxTableBytes) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes.size() > MaxTableBytes ? QByteArray() : bytes;
}

QSet<quint64> ownSockets()
{
    QSet<quint64> inodes;
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System);
    for (const QString &fd : descriptors) {
        const QByteArray link = QFile::encodeName(u"/proc/self/fd/" + fd);
        char target[64];
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        const QByteArrayView text(target, length > 0 ? length : 0);
        if (text.startsWith("socket:[") && text.endsWith(']')) {
            bool ok = false;
            const quint64 inode = text.sliced(8, text.size() - 9).toByteArray().toULongLong(&ok);
            if (ok)
                inodes.insert(inode);
        }
    }
    return inodes;
}

} // namespace

Verdict judge(QByteArrayView tcp, QByteArrayView tcp6, const QSet<quint64> &ownSockets,
              quint16 port, const TrustedOwner &trusted)
{
    const auto four = rows(tcp);
    const auto six = rows(tcp6);
    if (!four || !six)
        return {};
    const QList<Row> all = *four + *six;

    Verdict verdict{Verdict::Unknown, 0};
    for (const Row &near : all) {
        if (!ownSockets.contains(near.inode) || near.state != Established ||
            near.remote.port != port || !near.remote.isLoopback())
            continue;
        // The far end: the same connection seen from the other side.
        const Row *far = nullptr;
        for (const Row &candidate : all) {
            if (candidate.local == near.remote && candidate.remote == near.local &&
                candidate.state != TimeWait && candidate.state != Listening)
                far = &candidate;
        }
        if (!far)
            return {};
        // A socket no process holds (inode 0) is listed as root's: one not
        // yet accepted has sent nothing and is passed over; one its program
        // has let go of tells nothing.
        if (far->inode == 0) {
            if (far->state == Established)
                continue;
            return {};
        }
        if (!trusted(far->owner))
            return {Verdict::Foreign, far->owner};
        verdict.kind = Verdict::Trusted;
    }
    return verdict;
}

Verdict ofConnectionsTo(quint16 port)
{
    const QByteArray tcp = readWhole(QStringLiteral("/proc/net/tcp"));
    // A kernel without IPv6 has no table for it, and so no row.
    const QString six = QStringLiteral("/proc/net/tcp6");
    const QByteArray tcp6 = QFile::exists(six) ? readWhole(six) : QByteArrayLiteral("sl\n");
    return judge(tcp, tcp6, ownSockets(), port, trustedOwner);
}

bool trustedOwner(uid_t owner)
{
    if (owner == 0 || owner == ::getuid())
        return true;
    const passwd *service = ::getpwnam(ServiceUser);
    return service && service->pw_uid == owner;
}

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace LoopbackPeer
