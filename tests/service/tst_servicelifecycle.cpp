// How zhiwei-fortune-service starts and ends outside a test's own process:
// on the socket systemd hands over, on the person's own socket (shared when
// one serves there already), in the background for the launcher, on its own
// once idle, and how it tells who answers on a socket or a port.

#include "FortuneService.h"
#include "HttpClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <list>
#include <memory>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString Executable = QStringLiteral(ZHIWEI_SERVICE_EXE);
constexpr quint16 ActivationPort = ZHIWEI_ACTIVATION_TEST_PORT;
constexpr int WaitMs = 15000;

enum class Holder {
    Nothing,
    StaleSocket,
    Service,
    ServiceInOpenFolder,
    OtherHttpServer,
    HangsUpAtOnce,
    NeverAnswers,
};

// What is at the socket's place, or its folder, before the service starts.
enum class Place { Stale, Live, LinkedFolder, AnotherUsersFolder, OpenFolder };

// A socket file that nobody listens on, as a service that died leaves it.
bool leaveStaleSocket(const QString &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

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

} // namespace

class ServiceLifecycleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void servesTheSocketSystemdHandsOver_data();
    void servesTheSocketSystemdHandsOver();
    void probeTellsWhoHoldsThePort_data();
    void probeTellsWhoHoldsThePort();
    void claimsItsSocket_data();
    void claimsItsSocket();
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
    // On the socket the last start() named.
    httpkit::Answer getLocal(const QByteArray &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::list<QProcess> m_processes; // ended by cleanup() if a row did not
    httpkit::Client m_client{std::chrono::milliseconds(WaitMs)};
    quint16 m_port = 0;
    QString m_socket;
    QMap<QProcess *, QByteArray> m_output;
};

void ServiceLifecycleTest::init()
{
    QVERIFY(QFile::exists(Executable));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QFile::setPermissions(m_dir->path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_port = 0;
    m_socket.clear();
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
    QVERIFY2(said(process, "zhiwei-fortune-service listening on "),
             process.readAllStandardError().constData());
    static const QRegularExpression listening(
        QStringLiteral("listening on (?:http://127.0.0.1:(\\d+)|(/\\S+))"));
    const QRegularExpressionMatch where =
        listening.match(QString::fromLocal8Bit(m_output[&process]));
    m_port = quint16(where.captured(1).toUInt());
    m_socket = where.captured(2);
    QVERIFY(m_port != 0 || !m_socket.isEmpty());
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

httpkit::Answer ServiceLifecycleTest::getLocal(const QByteArray &path)
{
    return m_client.sendLocal(m_socket, path);
}

void ServiceLifecycleTest::servesTheSocketSystemdHandsOver_data()
{
    QTest::addColumn<bool>("local");
    QTest::newRow("a port") << false;
    QTest::newRow("a Unix socket") << true;
}

void ServiceLifecycleTest::servesTheSocketSystemdHandsOver()
{
    QFETCH(bool, local);
    const QString activate =
        QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
    if (activate.isEmpty())
        QSKIP("systemd-socket-activate is missing: install the Debian package systemd");
    if (QTcpServer probe; !local && !probe.listen(QHostAddress::LocalHost, ActivationPort))
        QSKIP(qPrintable(QStringLiteral("Something else holds 127.0.0.1:%1, the port this test "
                                        "hands over")
                             .arg(ActivationPort)));
    m_socket = m_dir->filePath(QStringLiteral("fortune.sock"));
    const QString place = local ? m_socket : QStringLiteral("127.0.0.1:%1").arg(ActivationPort);
    const auto ask = [&](const QByteArray &path) {
        return local ? getLocal(path) : get(ActivationPort, path);
    };

    // The service is started on the first connection, as systemd does, and
    // given --port 1 so that listening by itself would fail.
    QProcess &process = m_processes.emplace_back();
    process.start(activate, {QStringLiteral("--listen=") + place, Executable,
                             QStringLiteral("--port"), QStringLiteral("1")});
    QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
    QByteArray announced;
    QTRY_VERIFY_WITH_TIMEOUT((announced += process.readAllStandardError()).contains("Listening on"),
                             WaitMs);

    const httpkit::Answer notice = ask("/kwgamejc/xz/jc.txt");
    QCOMPARE(notice.status, 200);
    QCOMPARE(notice.body, QByteArray("V2"));
    QVERIFY2(said(process, "listening on " + (local ? QFile::encodeName(m_socket)
                                                    : "http://" + place.toLatin1())),
             m_output[&process].constData());
    QCOMPARE(ask("/astro/view/leo/day/").status, 200);

    process.terminate();
    QVERIFY(process.waitForFinished(WaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void ServiceLifecycleTest::probeTellsWhoHoldsThePort_data()
{
    QTest::addColumn<Holder>("holder");
    QTest::addColumn<bool>("local"); // a Unix socket, or a port
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    for (const bool local : {false, true}) {
        const auto row = [local](const char *name) -> QByteArray {
            return QByteArray(name) + (local ? ", on a Unix socket" : ", on a port");
        };
        QTest::newRow(row("nothing listens").constData())
            << Holder::Nothing << local << 1 << "nothing listens";
        QTest::newRow(row("the service").constData())
            << Holder::Service << local << 0 << "zhiwei-fortune-service answers";
        QTest::newRow(row("another web server").constData())
            << Holder::OtherHttpServer << local << 2 << "another program holds it";
        QTest::newRow(row("a program that hangs up at once").constData())
            << Holder::HangsUpAtOnce << local << 2 << "another program holds it";
    }
    // A flooded service looks the same: a busy socket is not a foreign one.
    // The probe waits the same on either transport; five seconds once suffice.
    QTest::newRow("a program that never answers, on a Unix socket")
        << Holder::NeverAnswers << true << 3 << "no answer within 5 s";
    // Left by a service that died: nobody listens.
    QTest::newRow("a stale socket") << Holder::StaleSocket << true << 1 << "nothing listens";
    // As the program, it asks nothing of a socket in a folder others may write.
    QTest::newRow("the service in a folder open to others")
        << Holder::ServiceInOpenFolder << true << 1 << "FOLDER: is open to other users";
}

void ServiceLifecycleTest::probeTellsWhoHoldsThePort()
{
    QFETCH(Holder, holder);
    QFETCH(bool, local);
    QFETCH(int, exitCode);
    QFETCH(QString, says);

    FortuneService service;
    QTcpServer other;
    QLocalServer otherLocal;
    const QString socket = m_dir->filePath(QStringLiteral("fortune.sock"));
    quint16 port = 0;
    // Another program answers, hangs up or keeps silent.
    const auto serveOther = [holder](QIODevice *connection) {
        if (holder == Holder::NeverAnswers)
            return;
        if (holder == Holder::OtherHttpServer)
            connection->write("HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Length: 0\r\n"
                              "Connection: close\r\n\r\n");
        connection->close();
    };
    switch (holder) {
    case Holder::Nothing:
        if (!local) {
            QTcpServer taken;
            QVERIFY(taken.listen(QHostAddress::LocalHost));
            port = taken.serverPort();
        }
        break;
    case Holder::StaleSocket:
        QVERIFY(leaveStaleSocket(socket));
        break;
    case Holder::Service:
    case Holder::ServiceInOpenFolder:
        QVERIFY2(local ? service.listenLocal(socket) : service.listen(),
                 qPrintable(service.errorString()));
        port = service.port();
        if (holder == Holder::ServiceInOpenFolder)
            QVERIFY(QFile::setPermissions(m_dir->path(), QFile::permissions(m_dir->path()) |
                                                             QFileDevice::WriteOther));
        break;
    case Holder::OtherHttpServer:
    case Holder::HangsUpAtOnce:
    case Holder::NeverAnswers:
        QVERIFY(local ? otherLocal.listen(socket) : other.listen(QHostAddress::LocalHost));
        port = other.serverPort();
        connect(&other, &QTcpServer::newConnection, &other,
                [&] { serveOther(other.nextPendingConnection()); });
        connect(&otherLocal, &QLocalServer::newConnection, &otherLocal,
                [&] { serveOther(otherLocal.nextPendingConnection()); });
        break;
    }

    // Run alongside: the service in this process must go on answering.
    QProcess &probe = m_processes.emplace_back();
    QSignalSpy finished(&probe, &QProcess::finished);
    probe.start(Executable, {QStringLiteral("--probe"),
                             local ? QStringLiteral("--socket") : QStringLiteral("--port"),
                             local ? socket : QString::number(port)});
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()),
             (local ? socket : QStringLiteral("127.0.0.1:%1").arg(port)) + u": " +
                 says.replace(QStringLiteral("FOLDER"), m_dir->path()) + u'\n');
}

// The person's socket is taken once its folder is his alone; a socket left
// by a service that died is replaced, a live service is shared.
void ServiceLifecycleTest::claimsItsSocket_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<int>("exitCode"); // -1: it serves
    QTest::addColumn<QString>("says"); // on its standard output, or error when it fails
    QTest::newRow("a stale socket") << Place::Stale << -1 << "listening on";
    QTest::newRow("a live service, started again in the background")
        << Place::Live << 0 << "already listens on";
    QTest::newRow("the folder a link") << Place::LinkedFolder << 1 << "not a folder of its own";
    QTest::newRow("another user's folder")
        << Place::AnotherUsersFolder << 1 << "belongs to another user";
    QTest::newRow("an open folder, closed first") << Place::OpenFolder << -1 << "listening on";
}

void ServiceLifecycleTest::claimsItsSocket()
{
    QFETCH(Place, place);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const QString folder = m_dir->filePath(QStringLiteral("zhiweige"));
    const QString socket = folder + QStringLiteral("/fortune.sock");
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkdir(place == Place::LinkedFolder ? elsewhere : folder));
    switch (place) {
    case Place::Stale:
        QVERIFY(leaveStaleSocket(socket));
        break;
    case Place::Live:
        start(m_processes.emplace_back(), Executable, {QStringLiteral("--socket"), socket});
        break;
    case Place::LinkedFolder:
        QVERIFY(QFile::link(elsewhere, folder));
        break;
    case Place::AnotherUsersFolder: {
        const passwd *nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("Giving a folder to another user (nobody) needs root");
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        break;
    }
    case Place::OpenFolder:
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        break;
    }
    if (QTest::currentTestFailed())
        return;

    QProcess &second = m_processes.emplace_back();
    QSignalSpy finished(&second, &QProcess::finished);
    second.start(Executable, QStringList{QStringLiteral("--socket"), socket} +
                                 (place == Place::Live ? QStringList{QStringLiteral("--background")}
                                                       : QStringList()));
    if (exitCode < 0) {
        QVERIFY2(said(second, says.toUtf8()), second.readAllStandardError().constData());
        m_socket = socket;
        QCOMPARE(getLocal("/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
        struct stat about = {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &about), 0);
        QCOMPARE(about.st_mode & 0777, 0700u);
        QCOMPARE(::stat(QFile::encodeName(socket).constData(), &about), 0);
        QCOMPARE(about.st_mode & 0777, 0600u);
        return;
    }
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    const QByteArray output = second.readAllStandardOutput() + second.readAllStandardError();
    QVERIFY2(second.exitCode() == exitCode && output.contains(says.toUtf8()), output.constData());
    // The first one still serves, and nothing of a refused start remains.
    if (place == Place::Live)
        QCOMPARE(getLocal("/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
    else
        QVERIFY(!QFile::exists(socket));
}

void ServiceLifecycleTest::backgroundStartReturnsOnceListening()
{
    m_socket = m_dir->filePath(QStringLiteral("fortune.sock"));
    QProcess &starter = m_processes.emplace_back();
    QSignalSpy finished(&starter, &QProcess::finished);
    starter.start(Executable, {QStringLiteral("--background"), QStringLiteral("--socket"), m_socket,
                               QStringLiteral("--idle-exit"), QStringLiteral("1")});
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(starter.exitStatus(), QProcess::NormalExit);
    QCOMPARE(starter.exitCode(), 0);

    // Ready the moment the starter returns: no waiting for the socket.
    QCOMPARE(getLocal("/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
    const QList<qint64> services = processesWith(Executable, m_dir->path());
    QCOMPARE(services.size(), 1);
    QVERIFY(services.first() != starter.processId());

    // Nobody asks any more: it goes by itself, and its socket with it.
    QTRY_VERIFY_WITH_TIMEOUT(processesWith(Executable, m_dir->path()).isEmpty(), WaitMs);
    QVERIFY(!QFile::exists(m_socket));
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

// The service the launcher starts stays while a copy of the program runs,
// however often it is asked meanwhile: this user's, also once an upgrade has
// replaced its file; not another user's process, which may call itself
// anything (exec -a).
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
        // Asked again and again meanwhile, as a program in use asks, it
        // still looks for the program.
        const QByteArray staying = "idle for 1 s, but the program still runs: staying\n";
        QElapsedTimer asking;
        asking.start();
        while (!said(server, staying, 100) && asking.elapsed() < WaitMs)
            QCOMPARE(get(m_port, "/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
        QVERIFY2(said(server, staying, 0), "asked all the while, it never looked for the program");
        running.kill();
        QVERIFY(running.waitForFinished(5000));
    }
    QVERIFY(said(server, "idle for 1 s: ending\n"));
    QTRY_COMPARE_WITH_TIMEOUT(server.state(), QProcess::NotRunning, WaitMs);
    QCOMPARE(server.exitCode(), 0);
}

QTEST_GUILESS_MAIN(ServiceLifecycleTest)
#include "tst_servicelifecycle.moc"
