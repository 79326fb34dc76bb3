// How zhiwei-fortune-service starts and ends outside a test's own process:
// on the socket systemd hands over, on the person's own socket (shared when
// one serves there already), in the background for the launcher, on its own
// once idle, and how it tells who answers on a socket or a port.

#include "FortuneService.h"

#include "CannedLocalServer.h"
#include "HttpClient.h"
#include "ProcStat.h"

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
enum class Place { Nothing, Stale, Live, LinkedFolder, AnotherUsersFolder, AnotherUsersSocket };

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
    void usesARuntimeFolderOnlyWhereItIsTheUsers_data();
    void usesARuntimeFolderOnlyWhereItIsTheUsers();
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
        for (const qint64 pid : ProcStat::processesRunning(Executable, m_dir->path()))
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
    // Asked as the system's socket: where nobody serves behind it, the
    // person's own is asked after it, as the program then uses that one.
    QTest::addColumn<bool>("system");

    for (const bool local : {false, true}) {
        const auto row = [local](const char *name) -> QByteArray {
            return QByteArray(name) + (local ? ", on a Unix socket" : ", on a port");
        };
        QTest::newRow(row("nothing listens").constData())
            << Holder::Nothing << local << 1 << "nothing listens" << false;
        QTest::newRow(row("the service").constData())
            << Holder::Service << local << 0 << "zhiwei-fortune-service answers" << false;
        QTest::newRow(row("another web server").constData())
            << Holder::OtherHttpServer << local << 2 << "another program holds it" << false;
        QTest::newRow(row("a program that hangs up at once").constData())
            << Holder::HangsUpAtOnce << local << 2 << "hangs up without answering" << false;
    }
    // A flooded service looks the same: a busy socket is not a foreign one.
    // The probe waits the same on either transport; five seconds once suffice.
    QTest::newRow("a program that never answers, on a Unix socket")
        << Holder::NeverAnswers << true << 3 << "no answer within 5 s" << false;
    // Left by a service that died: nobody listens.
    QTest::newRow("a stale socket")
        << Holder::StaleSocket << true << 1 << "nothing listens" << false;
    // As the program, it asks nothing of a socket in a folder others may write.
    QTest::newRow("the service in a folder open to others")
        << Holder::ServiceInOpenFolder << true << 1 << "FOLDER: is open to other users" << false;
    // Refused: no more a service than no socket is.
    QTest::newRow("the system's socket, left by a stopped unit")
        << Holder::StaleSocket << true << 1 << "" << true;
    QTest::newRow("the system's socket, hanging up as a service that cannot start")
        << Holder::HangsUpAtOnce << true << 1 << "hangs up without answering" << true;
}

void ServiceLifecycleTest::probeTellsWhoHoldsThePort()
{
    QFETCH(Holder, holder);
    QFETCH(bool, local);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(bool, system);

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
    QString own;
    if (system) {
        const QString runtime = m_dir->filePath(QStringLiteral("runtime"));
        QVERIFY(QDir().mkdir(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        probe.setProcessEnvironment(environment);
        own = runtime + QStringLiteral("/zhiweige/fortune.sock: nothing listens\n");
    }
    probe.start(Executable, {QStringLiteral("--probe"),
                             system  ? QStringLiteral("--system-socket")
                             : local ? QStringLiteral("--socket")
                                     : QStringLiteral("--port"),
                             local ? socket : QString::number(port)});
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), exitCode);
    const QString first =
        says.isEmpty() ? QString()
                       : (local ? socket : QStringLiteral("127.0.0.1:%1").arg(port)) + u": " +
                             says.replace(QStringLiteral("FOLDER"), m_dir->path()) + u'\n';
    QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()), first + own);
}

// The person's socket is taken once its folder is his alone, the folder
// made his alone whatever the umask (an earlier start under a narrow one
// left it 0500); a folder named with --socket is left as it is. A socket left by a service that
// died is replaced, a live service of the same user is shared, another user's is not.
void ServiceLifecycleTest::claimsItsSocket_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<bool>("given");   // with --socket; else in its runtime folder
    QTest::addColumn<int>("mode");     // of the folder before; 0: none there
    QTest::addColumn<int>("exitCode"); // -1: it serves
    QTest::addColumn<QString>("says"); // on its standard output, or error when it fails
    QTest::addColumn<int>("modeAfter");
    QTest::newRow("a stale socket")
        << Place::Stale << false << 0700 << -1 << "listening on" << 0700;
    QTest::newRow("a live service, started again in the background")
        << Place::Live << false << 0700 << 0 << "already listens on" << 0700;
    QTest::newRow("the folder a link")
        << Place::LinkedFolder << false << 0700 << 1 << "not a folder of its own" << 0;
    QTest::newRow("another user's folder")
        << Place::AnotherUsersFolder << false << 0700 << 1 << "belongs to another user" << 0;
    QTest::newRow("its folder open, closed first")
        << Place::Nothing << false << 0755 << -1 << "listening on" << 0700;
    QTest::newRow("its folder made")
        << Place::Nothing << false << 0 << -1 << "listening on" << 0700;
    QTest::newRow("its folder left 0500, mended")
        << Place::Nothing << false << 0500 << -1 << "listening on" << 0700;
    QTest::newRow("a setgid 2775 folder named, left as it is")
        << Place::Nothing << true << 02775 << -1 << "listening on" << 02775;
    QTest::newRow("a sticky 1777 folder named, left as it is")
        << Place::Nothing << true << 01777 << -1 << "listening on" << 01777;
    QTest::newRow("another user's service in a folder named")
        << Place::AnotherUsersSocket << true << 01777 << 1 << "belongs to another user" << 0;
}

void ServiceLifecycleTest::claimsItsSocket()
{
    QFETCH(Place, place);
    QFETCH(bool, given);
    QFETCH(int, mode);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(int, modeAfter);
    const passwd *nobody = ::getpwnam("nobody");
    const bool anotherUser =
        place == Place::AnotherUsersFolder || place == Place::AnotherUsersSocket;
    if (anotherUser && (::geteuid() != 0 || !nobody))
        QSKIP("Giving a folder to another user (nobody) needs root");
    // The person's own folder in his runtime folder, or one named.
    const QString folder =
        m_dir->filePath(given ? QStringLiteral("named") : QStringLiteral("zhiweige"));
    const QByteArray folderName = QFile::encodeName(folder);
    const QString socket = folder + QStringLiteral("/fortune.sock");
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->path());
    const QStringList where =
        given ? QStringList{QStringLiteral("--socket"), socket} : QStringList();
    if (mode != 0) {
        QVERIFY(QDir().mkdir(place == Place::LinkedFolder ? elsewhere : folder));
        QCOMPARE(
            ::chmod(
                QFile::encodeName(place == Place::LinkedFolder ? elsewhere : folder).constData(),
                mode_t(mode)),
            0);
    }
    QLocalServer others;
    switch (place) {
    case Place::Nothing:
        break;
    case Place::Stale:
        QVERIFY(leaveStaleSocket(socket));
        break;
    case Place::Live:
        m_processes.emplace_back().setProcessEnvironment(environment);
        start(m_processes.back(), Executable, where);
        break;
    case Place::LinkedFolder:
        QVERIFY(QFile::link(elsewhere, folder));
        break;
    case Place::AnotherUsersFolder:
        QCOMPARE(::chown(folderName.constData(), nobody->pw_uid, nobody->pw_gid), 0);
        break;
    case Place::AnotherUsersSocket:
        QVERIFY(others.listen(socket));
        QCOMPARE(::chown(QFile::encodeName(socket).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        break;
    }
    if (QTest::currentTestFailed())
        return;

    QProcess &second = m_processes.emplace_back();
    second.setProcessEnvironment(environment);
    // The narrowest umask that lets its owner in: each folder it makes and
    // what it makes there still serve a start under another.
    second.setChildProcessModifier([] { ::umask(0277); });
    QSignalSpy finished(&second, &QProcess::finished);
    second.start(Executable,
                 where + (place == Place::Live ? QStringList{QStringLiteral("--background")}
                                               : QStringList()));
    if (exitCode < 0) {
        QVERIFY2(said(second, (says + u' ' + socket).toUtf8()),
                 second.readAllStandardError().constData());
        m_socket = socket;
        QCOMPARE(getLocal("/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
        struct stat about = {};
        QCOMPARE(::stat(folderName.constData(), &about), 0);
        QCOMPARE(about.st_mode & 07777, mode_t(modeAfter));
        QCOMPARE(::stat(QFile::encodeName(socket).constData(), &about), 0);
        QCOMPARE(about.st_mode & 0777, 0600u);
        return;
    }
    QVERIFY(finished.wait(WaitMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    const QByteArray output = second.readAllStandardOutput() + second.readAllStandardError();
    QVERIFY2(second.exitCode() == exitCode && output.contains(says.toUtf8()), output.constData());
    // The first one still serves, and nothing of a refused start remains.
    if (place == Place::Live) {
        m_socket = socket;
        QCOMPARE(getLocal("/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
    } else if (place != Place::AnotherUsersSocket) {
        QVERIFY(!QFile::exists(socket));
    }
}

void ServiceLifecycleTest::usesARuntimeFolderOnlyWhereItIsTheUsers_data()
{
    QTest::addColumn<QString>("runtime"); // a folder of the test's, but for /tmp
    QTest::newRow("open to others") << "open";
    QTest::newRow("another user's, as root after sudo -E") << "nobody's";
    QTest::newRow("a link to the user's own") << "link";
    QTest::newRow("shared by every user") << "/tmp";
}

// $XDG_RUNTIME_DIR is taken only as the XDG base directory rules have it
// (claimsItsSocket takes a fit one), else each user's own folder in /tmp:
// where the probe, the service and the program look, on the same rule.
void ServiceLifecycleTest::usesARuntimeFolderOnlyWhereItIsTheUsers()
{
    QFETCH(QString, runtime);
    const passwd *nobody = ::getpwnam("nobody");
    if (runtime == u"nobody's" && (::geteuid() != 0 || !nobody))
        QSKIP("Giving a folder to another user (nobody) needs root");
    const QString folder = m_dir->filePath(runtime);
    if (runtime != u"/tmp") {
        QVERIFY(QDir().mkdir(folder + u'0'));
        QCOMPARE(
            ::chmod(QFile::encodeName(folder + u'0').constData(), runtime == u"open" ? 0755 : 0700),
            0);
        if (runtime == u"nobody's")
            QCOMPARE(::chown(QFile::encodeName(folder + u'0').constData(), nobody->pw_uid,
                             nobody->pw_gid),
                     0);
        QVERIFY(runtime == u"link" ? QFile::link(folder + u'0', folder)
                                   : QDir().rename(folder + u'0', folder));
    }
    QProcess &probe = m_processes.emplace_back();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime == u"/tmp" ? runtime : folder);
    probe.setProcessEnvironment(environment);
    probe.start(Executable, {QStringLiteral("--probe"), QStringLiteral("--system-socket"),
                             m_dir->filePath(QStringLiteral("none.sock"))});
    QVERIFY(probe.waitForFinished(WaitMs));
    const QString said = QString::fromLocal8Bit(probe.readAllStandardOutput());
    QVERIFY2(said.startsWith(QStringLiteral("/tmp/zhiweige-%1/fortune.sock: ").arg(::geteuid())),
             qPrintable(said));
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
    const QList<qint64> services = ProcStat::processesRunning(Executable, m_dir->path());
    QCOMPARE(services.size(), 1);
    QVERIFY(services.first() != starter.processId());

    // Nobody asks any more: it goes by itself, and its socket with it.
    QTRY_VERIFY_WITH_TIMEOUT(ProcStat::processesRunning(Executable, m_dir->path()).isEmpty(),
                             WaitMs);
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
    QVERIFY(ProcStat::processesRunning(Executable, m_dir->path()).isEmpty());
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
