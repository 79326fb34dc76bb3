#include "core/LoopbackPeer.h"

#include <QTest>

// Whom an answer on the loopback came from, read off the kernel's tables:
// one connection of ours to 127.0.0.1:18231 (port 4737) from port 40000
// (9C40), and the far end of it as the case has it.
class TestLoopbackPeer : public QObject
{
    Q_OBJECT
private slots:
    void judge_data();
    void judge();
};

namespace {

constexpr quint16 Port = 18231;
constexpr quint64 Ours = 111;
constexpr uid_t Self = 1000;

const QByteArray Header = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
                          "retrnsmt   uid  timeout inode\n";

QByteArray row(const char *local, const char *remote, const char *state, uid_t uid, quint64 inode)
{
    return QByteArray("   0: ") + local + ' ' + remote + ' ' + state +
           " 00000000:00000000 00:00000000 00000000 " + QByteArray::number(uid) + "        0 " +
           QByteArray::number(inode) + " 1 0000000000000000 20 4 30 10 -1\n";
}

const char *const Near4 = "0100007F:9C40";
const char *const Far4 = "0100007F:4737";
const char *const Near6 = "00000000000000000000000001000000:9C40";
const char *const Far6 = "00000000000000000000000001000000:4737";
const char *const Mapped = "0000000000000000FFFF00000100007F:4737";
const char *const MappedNear = "0000000000000000FFFF00000100007F:9C40";

using Kind = LoopbackPeer::Verdict::Kind;

} // namespace

void TestLoopbackPeer::judge_data()
{
    QTest::addColumn<QByteArray>("tcp");
    QTest::addColumn<QByteArray>("tcp6");
    QTest::addColumn<int>("kind");
    QTest::addColumn<uid_t>("owner");

    const QByteArray near = row(Near4, Far4, "01", Self, Ours);
    QTest::newRow("the caller's own server") << Header + near + row(Far4, Near4, "01", Self, 7)
                                             << Header << int(Kind::Trusted) << uid_t(0);
    QTest::newRow("root's socket (systemd's)")
        << Header + near + row(Far4, Near4, "01", 0, 7) << Header << int(Kind::Trusted) << uid_t(0);
    QTest::newRow("another user's server") << Header + near + row(Far4, Near4, "01", 65534, 7)
                                           << Header << int(Kind::Foreign) << uid_t(65534);
    // An IPv6 socket taking IPv4 connections lists its end in tcp6.
    QTest::newRow("another user's IPv4-mapped wildcard")
        << Header + near << Header + row(Mapped, MappedNear, "01", 65534, 7) << int(Kind::Foreign)
        << uid_t(65534);
    QTest::newRow("over ::1, another user's")
        << Header << Header + row(Near6, Far6, "01", Self, Ours) + row(Far6, Near6, "01", 65534, 7)
        << int(Kind::Foreign) << uid_t(65534);
    // A socket no process holds any more is listed as root's.
    QTest::newRow("far end closed by its program")
        << Header + near + row(Far4, Near4, "05", 0, 0) << Header << int(Kind::Unknown) << uid_t(0);
    QTest::newRow("another connection of ours not yet accepted")
        << Header + near + row(Far4, Near4, "01", Self, 7) +
               row("0100007F:9C42", Far4, "01", Self, Ours) + row(Far4, "0100007F:9C42", "01", 0, 0)
        << Header << int(Kind::Trusted) << uid_t(0);
    QTest::newRow("far end gone to TIME_WAIT")
        << Header + near + row(Far4, Near4, "06", 0, 0) << Header << int(Kind::Unknown) << uid_t(0);
    QTest::newRow("no connection of ours")
        << Header + row(Far4, Near4, "01", Self, 7) << Header << int(Kind::Unknown) << uid_t(0);
    // Another process's connection to the port is not ours to judge by.
    QTest::newRow("another process's connection beside ours")
        << Header + near + row(Far4, Near4, "01", Self, 7) +
               row(Near4, "0100007F:9C41", "01", 0, 8) + row("0100007F:9C41", Far4, "01", Self, 9)
        << Header << int(Kind::Trusted) << uid_t(0);
    QTest::newRow("a table that could not be read")
        << QByteArray() << Header << int(Kind::Unknown) << uid_t(0);
    QTest::newRow("an address form not understood")
        << Header + near + row(Far4, Near4, "01", Self, 7).replace("0100007F:9C40", "7F.0.0.1:9C40")
        << Header << int(Kind::Unknown) << uid_t(0);
    QTest::newRow("a row cut short") << Header + near + "   1: 0100007F:4737 0100007F:9C40 01\n"
                                     << Header << int(Kind::Unknown) << uid_t(0);
}

void TestLoopbackPeer::judge()
{
    QFETCH(QByteArray, tcp);
    QFETCH(QByteArray, tcp6);
    QFETCH(int, kind);
    QFETCH(uid_t, owner);
    const LoopbackPeer::Verdict verdict = LoopbackPeer::judge(
        tcp, tcp6, {Ours}, Port, [](uid_t uid) { return uid == 0 || uid == Self; });
    QCOMPARE(int(verdict.kind), kind);
    QCOMPARE(verdict.owner, owner);
}

QTEST_GUILESS_MAIN(TestLoopbackPeer)
#include "tst_loopbackpeer.moc"
