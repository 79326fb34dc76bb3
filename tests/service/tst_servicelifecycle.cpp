// How zhiwei-fortune-service starts and ends outside a test's own process:
// on the socket systemd hands over, in the background for the launcher, on
// its own once idle, and how it tells who holds a port.

#include "FortuneService.h"
#include "HostileListener.h"
#include "HttpClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <list>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString Executable = QStringLiteral(ZHIWEI_SERVICE_EXE);
constexpr quint16 ActivationPort = ZHIWEI_ACTIVATION_TEST_PORT;
constexpr int WaitMs = 15000;

enum class Holder {
    Nothing,
    Service,
    OtherHttpServer,
    HangsUpAtOnce,
    NeverAnswers,
    NobodysService,
    NobodysMappedWildcard,
    NobodysV6OnlyWildcardBesideTheService,
};

// Processes running `executable` whose command line holds `word`: a folder
// of the test's own, so the service of another test never counts.
QList<qint64> processesWith(const QString &executable, const QString &word)
{
    QList<qint64> found;
    const QString wanted = QFileInfo(executable).canonicalFilePath();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || QFile::symLinkTarget(u"/proc/" + entry + u"/exe") != wanted)
            continue;
        QFile commandLine(u"/proc/" + entry + u"/cmdline");
        if (commandLine.open(QIODevice::ReadOnly) &&
            QString::fromLocal8Bit(commandLine.readAll()).contains(word))
            found.append(pid);
    }
    return found;
}

bool refuses(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(5000);
    return socket.error() == QAbstractSocket::ConnectionRefusedError;
}

} // namespace

class ServiceLifecycleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void servesTheSocketSystemdHandsOver();
    void probeTellsWhoHoldsThePort_data();
    void probeTellsWhoHoldsThePort();
    void backgroundStartReturnsOnceListening();
    void backgroundStartOnATakenPortSaysWhy();
    void endsAfterItsIdleTime();
    void requestsPutTheEndOff();
    void staysWhileTheProgramBesideItRuns_data();
    void staysWhileTheProgramBesideItRuns();

private:
    // Starts a service in the foreground and waits until it listens.
    void start(QProcess &process, const QString &executable, const QStringList &arguments);
    // Waits until the process has said `line`.
    bool said(QProcess &process, const QByteArray &line, int timeoutMs = WaitMs);
    httpkit::Answer get(quint16 port, const QByteArray &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::list<QProcess> m_processes; // ended by cleanup() if a row did not
    httpkit::Client m_client{std::chrono::milliseconds(WaitMs)};
    quint16 m_port = 0;
    QMap<QProcess *, QByteArray> m_output;
};

void ServiceLifecycleTest::init()
{
    QVERIFY(QFile::exists(Executable));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_port = 0;
}

void ServiceLifecycleTest::cleanup()
{
    for (QProcess &process : m_processes) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    m_processes.clear();
    m_output.clear();
    // A background service of a failed row ends here; nothing of it remains.
    if (m_dir) {
        for (const qint64 pid : processesWith(Executable, m_dir->path()))
            ::kill(pid_t(pid), SIGKILL);
    }
    m_dir.reset();
}

void ServiceLifecycleTest::start(QProcess &process, const QString &executable,
                                 const QStringList &arguments)
{
    process.start(executable, arguments);
    QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
    QVERIFY2(said(process, "zhiwei-fortune-service listening on http://127.0.0.1:"),
             process.readAllStandardError().constData());
    static const QRegularExpression listening(
        QStringLiteral("listening on http://127.0.0.1:(\\d+)"));
    m_port = quint16(listening.match(QString::fromLatin1(m_output[&process])).captured(1).toUInt());
    QVERIFY(m_port != 0);
}

bool ServiceLifecycleTest::said(QProcess &process, const QByteArray &line, int timeoutMs)
{
    QByteArray &output = m_output[&process];
    const auto hasSaid = [&] {
        output += process.readAllStandardOutput();
        return output.contains(line);
    };
    return QTest::qWaitFor([&] { return hasSaid() || process.state() == QProcess::NotRunning; },
                           timeoutMs) &&
           hasSaid();
}

httpkit::Answer ServiceLifecycleTest::get(quint16 port, const QByteArray &path)
{
    return m_client.get(httpkit::localUrl(port, path));
}

void ServiceLifecycleTest::servesTheSocketSystemdHandsOver()
{
    const QString activate =
        QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
    if (activate.isEmpty())
        QSKIP("systemd-socket-activate is missing: install the Debian package systemd");
    if (QTcpServer probe; !probe.listen(QHostAddress::LocalHost, ActivationPort))
        QSKIP(qPrintable(QStringLiteral("Something else holds 127.0.0.1:%1, the port this test "
                                        "hands over")
                             .arg(ActivationPort)));

    // The service is started on the first connection, as systemd does, and
    // given --port 1 so that listening by itself would fail.
    QProcess &process = m_processes.emplace_back();
    process.start(activate, {QStringLiteral("--listen=127.0.0.1:%1").arg(ActivationPort),
                             Executable, QStringLiteral("--port"), QStringLiteral("1")});
    QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
    QByteArray announced;
    QTRY_VERIFY_WITH_TIMEOUT((announced += process.readAllStandardError()).contains("Listening on"),
                             WaitMs);

    const httpkit::Answer notice = get(ActivationPort, "/kwgamejc/xz/jc.txt");
    QCOMPARE(notice.status, 200);
    QCOMPARE(notice.body, QByteArray("V2"));
    QVERIFY(said(process, "listening on http://127.0.0.1:" + QByteArray::number(ActivationPort)));
    QCOMPARE(get(ActivationPort, "/astro/view/leo/day/").status, 200);

    process.terminate();
    QVERIFY(process.waitForFinished(WaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void ServiceLifecycleTest::probeTellsWhoHoldsThePort_data()
{
    QTest::addColumn<Holder>("holder");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    QTest::newRow("nothing listens") << Holder::Nothing << 1 << "nothing listens";
    QTest::newRow("the service") << Holder::Service << 0 << "zhiwei-fortune-service answers";
    QTest::newRow("another web server")
        << Holder::OtherHttpServer << 2 << "another program holds it";
    QTest::newRow("a program that hangs up at once")
        << Holder::HangsUpAtOnce << 2 << "another program holds it";
    // A flooded service looks the same: a busy port is not a foreign one.
    QTest::newRow("a program that never answers")
        << Holder::NeverAnswers << 3 << "no answer within 5 s";
    // Its answers would be this service's own, header and all: the owner of
    // the far end of the connection tells.
    const QString nobodys = QStringLiteral("held by another user, nobody (uid 65534)");
    QTest::newRow("the service, run by another user") << Holder::NobodysService << 4 << nobodys;
    // An IPv6 socket on [::ffff:0.0.0.0] takes every connection to 127.0.0.1.
    QTest::newRow("another user's IPv4-mapped wildcard")
        << Holder::NobodysMappedWildcard << 4 << nobodys;
    // One on [::] with IPV6_V6ONLY takes none of them: the service answers.
    QTest::newRow("another user's IPv6-only wildcard, the service beside it")
        << Holder::NobodysV6OnlyWildcardBesideTheService << 0 << "zhiwei-fortune-service answers";
}

void ServiceLifecycleTest::probeTellsWhoHoldsThePort()
{
    QFETCH(Holder, holder);
    QFETCH(int, exitCode);
    QFETCH(QString, says);

    FortuneService service;
    QTcpServer other;
    quint16 port = 0;
    const passwd *nobody = ::getpwnam("nobody");
    if (holder >= Holder::NobodysService &&
        (::geteuid() != 0 || !nobody || nobody->pw_uid != 65534))
        QSKIP("Starting a service as another user (nobody, uid 65534) needs root");
    // What another user runs is copied into the test's folder, opened to
    // others: the build itself may sit where only its owner can enter.
    const auto readAndRun = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(m_dir->path(), readAndRun));
    const auto asNobody = [nobody](QProcess &process) {
        process.setChildProcessModifier([uid = nobody->pw_uid, gid = nobody->pw_gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        });
    };
    std::unique_ptr<HostileListener> hostile;
    switch (holder) {
    case Holder::Nothing: {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        port = taken.serverPort();
        break;
    }
    case Holder::Service:
        QVERIFY(service.listen());
        port = service.port();
        break;
    case Holder::NobodysService: {
        // A copy in the test's folder, opened to others: the build itself
        // may sit where only its owner can enter (root's home).
        const QString copy = m_dir->filePath(QStringLiteral("zhiwei-fortune-service"));
        QVERIFY(QFile::copy(Executable, copy));
        QVERIFY(QFile::setPermissions(copy, readAndRun));
        QProcess &squatter = m_processes.emplace_back();
        asNobody(squatter);
        start(squatter, copy, {QStringLiteral("--port"), QStringLiteral("0")});
        if (QTest::currentTestFailed())
            return;
        port = m_port;
        break;
    }
    case Holder::NobodysMappedWildcard:
    case Holder::NobodysV6OnlyWildcardBesideTheService:
        hostile = std::make_unique<HostileListener>(holder == Holder::NobodysMappedWildcard
                                                        ? QStringLiteral("v4-mapped-wildcard")
                                                        : QStringLiteral("v6-only-wildcard"));
        QVERIFY2(hostile->whyNot().isEmpty(), qPrintable(hostile->whyNot()));
        port = hostile->port();
        if (holder == Holder::NobodysV6OnlyWildcardBesideTheService)
            QVERIFY(service.listen(port));
        break;
    case Holder::OtherHttpServer:
    case Holder::HangsUpAtOnce:
    case Holder::NeverAnswers:
        QVERIFY(other.listen(QHostAddress::LocalHost));
        port = other.serverPort();
        connect(&other, &QTcpServer::newConnection, &other, [&other, holder] {
            QTcpSocket *socket = other.nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            if (holder == Holder::NeverAnswers)
                return;
            if (holder == Holder::OtherHttpServer)
                socket->write("HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Length: 0\r\n"
                              "Connection: close\r\n\r\n");
            socket->disconnectFromHost();
        });
        break;
    }

    // Run alongside: the service in this process must go on answering.
    QProcess &probe = m_processes.emplace_back();
    QSignalSpy finished(&probe, &QProcess::finished);
    probe.start(Executable,
                {QStringLiteral("--probe"), QStringLiteral("--port"), QString::number(port)});
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()),
             QStringLiteral("127.0.0.1:%1: %2\n").arg(port).arg(says));
}

void ServiceLifecycleTest::backgroundStartReturnsOnceListening()
{
    const QString portFile = m_dir->filePath(QStringLiteral("port"));
    QProcess &starter = m_processes.emplace_back();
    QSignalSpy finished(&starter, &QProcess::finished);
    starter.start(Executable, {QStringLiteral("--background"), QStringLiteral("--port"),
                               QStringLiteral("0"), QStringLiteral("--port-file"), portFile,
                               QStringLiteral("--idle-exit"), QStringLiteral("1")});
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(starter.exitStatus(), QProcess::NormalExit);
    QCOMPARE(starter.exitCode(), 0);

    // Ready the moment the starter returns: no waiting for the port.
    QFile file(portFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const quint16 port = quint16(file.readAll().trimmed().toUInt());
    QVERIFY(port != 0);
    QCOMPARE(get(port, "/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
    const QList<qint64> services = processesWith(Executable, m_dir->path());
    QCOMPARE(services.size(), 1);
    QVERIFY(services.first() != starter.processId());

    // Nobody asks any more: it goes by itself.
    QTRY_VERIFY_WITH_TIMEOUT(processesWith(Executable, m_dir->path()).isEmpty(), WaitMs);
    QVERIFY(refuses(port));
}

void ServiceLifecycleTest::backgroundStartOnATakenPortSaysWhy()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    const QString portFile = m_dir->filePath(QStringLiteral("port"));
    QProcess &starter = m_processes.emplace_back();
    QSignalSpy finished(&starter, &QProcess::finished);
    starter.start(Executable,
                  {QStringLiteral("--background"), QStringLiteral("--port"),
                   QString::number(holder.serverPort()), QStringLiteral("--port-file"), portFile});
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(starter.exitStatus(), QProcess::NormalExit);
    QCOMPARE(starter.exitCode(), 1);
    const QString error = QString::fromLocal8Bit(starter.readAllStandardError());
    QVERIFY2(
        error.startsWith(QStringLiteral("zhiwei-fortune-service: cannot listen on 127.0.0.1:%1")
                             .arg(holder.serverPort())),
        qPrintable(error));
    QVERIFY(!QFile::exists(portFile));
    QVERIFY(processesWith(Executable, m_dir->path()).isEmpty());
}

void ServiceLifecycleTest::endsAfterItsIdleTime()
{
    QProcess &service = m_processes.emplace_back();
    start(service, Executable,
          {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--idle-exit"),
           QStringLiteral("1")});
    QVERIFY(said(service, "idle for 1 s: ending\n"));
    QTRY_COMPARE_WITH_TIMEOUT(service.state(), QProcess::NotRunning, WaitMs);
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
}

// Answered back to back for one and a half idle times: had the first
// request not put the end off, the later ones would find nobody.
void ServiceLifecycleTest::requestsPutTheEndOff()
{
    constexpr int IdleSeconds = 1;
    QProcess &service = m_processes.emplace_back();
    start(service, Executable,
          {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--idle-exit"),
           QString::number(IdleSeconds)});
    QElapsedTimer clock;
    clock.start();
    int answered = 0;
    while (clock.elapsed() < IdleSeconds * 1500) {
        QCOMPARE(get(m_port, "/kwgamejc/xz/jc.txt").status, 200);
        ++answered;
    }
    QVERIFY(answered > 1);
    QCOMPARE(service.state(), QProcess::Running);
    QVERIFY(said(service, "idle for 1 s: ending\n"));
    QTRY_COMPARE_WITH_TIMEOUT(service.state(), QProcess::NotRunning, WaitMs);
}

// A user may read one fortune for longer than the idle time; the next click
// must still find the service. A copy of the service beside a stand-in
// program (a copy of sleep, named as the program) shows it.
enum class Runner { AsStarted, Upgraded, AnotherUser };

// The service the launcher starts stays while a copy of the program runs:
// this user's, also once an upgrade has replaced its file; not another
// user's process, which may call itself anything (exec -a).
void ServiceLifecycleTest::staysWhileTheProgramBesideItRuns_data()
{
    QTest::addColumn<Runner>("runner");
    QTest::addColumn<bool>("stays");
    QTest::newRow("the program") << Runner::AsStarted << true;
    QTest::newRow("the program, its file replaced by an upgrade") << Runner::Upgraded << true;
    QTest::newRow("the program, run by another user") << Runner::AnotherUser << false;
}

void ServiceLifecycleTest::staysWhileTheProgramBesideItRuns()
{
    QFETCH(Runner, runner);
    QFETCH(bool, stays);
    const passwd *nobody = ::getpwnam("nobody");
    if (runner == Runner::AnotherUser && (::geteuid() != 0 || !nobody))
        QSKIP("Running the program as another user (nobody) needs root");
    const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    QVERIFY(!sleep.isEmpty());
    const QString service = m_dir->filePath(QStringLiteral("zhiwei-fortune-service"));
    const QString program = m_dir->filePath(QStringLiteral("zhiweige"));
    QVERIFY(QFile::copy(Executable, service));
    QVERIFY(QFile::copy(sleep, program));
    // Where another user can run it too.
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::permissions(m_dir->path()) |
                                                     QFileDevice::ReadOther |
                                                     QFileDevice::ExeOther));

    QProcess &running = m_processes.emplace_back();
    if (runner == Runner::AnotherUser) {
        running.setChildProcessModifier([uid = nobody->pw_uid, gid = nobody->pw_gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        });
    }
    running.start(program, {QStringLiteral("600")});
    QVERIFY2(running.waitForStarted(5000), qPrintable(running.errorString()));
    if (runner == Runner::Upgraded) {
        // As dpkg does: the new file renamed over the old one.
        const QString upgrade = program + u".dpkg-new";
        QVERIFY(QFile::copy(sleep, upgrade));
        QCOMPARE(::rename(QFile::encodeName(upgrade).constData(),
                          QFile::encodeName(program).constData()),
                 0);
    }

    QProcess &server = m_processes.emplace_back();
    start(server, service,
          {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--idle-exit"),
           QStringLiteral("1")});
    if (stays) {
        QVERIFY(said(server, "idle for 1 s, but the program still runs: staying\n"));
        QCOMPARE(get(m_port, "/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
        running.kill();
        QVERIFY(running.waitForFinished(5000));
    }
    QVERIFY(said(server, "idle for 1 s: ending\n"));
    QTRY_COMPARE_WITH_TIMEOUT(server.state(), QProcess::NotRunning, WaitMs);
    QCOMPARE(server.exitCode(), 0);
}

QTEST_GUILESS_MAIN(ServiceLifecycleTest)
#include "tst_servicelifecycle.moc"
