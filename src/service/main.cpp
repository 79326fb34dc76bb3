// zhiwei-fortune-service: the offline fortune site on a Unix socket (or a
// port of 127.0.0.1), for the program to use with no internet and for
// scripts and tests to start. Run by systemd on the socket it hands over,
// or started by the launcher on the person's own socket where there is no
// systemd; then it ends by itself once nobody needs it.

#include "Background.h"
#include "FortuneService.h"
#include "IdleShutdown.h"
#include "ServiceOptions.h"
#include "ServiceProbe.h"
#include "SocketActivation.h"
#include "SocketClaim.h"

#include "core/LocalService.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>

namespace {

int signalSockets[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so the program exits 0 after
// closing its port like any other clean shutdown.
bool quitOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return false;
    auto *notifier =
        new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalSockets[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "zhiwei-fortune-service: %s\n", qPrintable(message));
    std::exit(1);
}

// Looked for before Qt starts: the fork must come first.
bool asksForBackground(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--background") == 0)
            return true;
    }
    return false;
}

// The soft descriptor limit up to the hard one: the event loop polls, so
// high descriptors cost nothing, and the server lets in half the limit.
void raiseDescriptorLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// What --probe says, also as its exit status.
int reportWhoAnswers(const ServiceOptions &options)
{
    constexpr std::chrono::seconds Timeout(5);
    QString where;
    QString unfit;
    ServiceProbe::Holder holder = ServiceProbe::Holder::Nothing;
    if (options.port) {
        where = QStringLiteral("127.0.0.1:%1").arg(*options.port);
        holder = ServiceProbe::atPort(*options.port, Timeout);
    } else {
        where = options.socket.value_or(LocalService::socketPath(options.systemSocket));
        // The program does not use the person's socket in a folder that is
        // not his alone; nor is anything there asked.
        const QFileInfo folder(QFileInfo(where).path());
        if (where == options.systemSocket ||
            LocalService::fitFolder(folder.filePath(), /*create=*/false, &unfit))
            holder = ServiceProbe::atSocket(where, Timeout);
        else if (!folder.exists() && !folder.isSymLink())
            unfit.clear(); // not made yet: nothing listens
    }
    QString says;
    int status = 0;
    switch (holder) {
    case ServiceProbe::Holder::Ours:
        says = QStringLiteral("zhiwei-fortune-service answers");
        break;
    case ServiceProbe::Holder::Nothing:
        says = unfit.isEmpty() ? QStringLiteral("nothing listens") : unfit;
        status = 1;
        break;
    case ServiceProbe::Holder::Other:
        says = QStringLiteral("another program holds it");
        status = 2;
        break;
    case ServiceProbe::Holder::Silent:
        says = QStringLiteral("no answer within %1 s").arg(Timeout.count());
        status = 3;
        break;
    }
    std::printf("%s: %s\n", qPrintable(where), qPrintable(says));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksForBackground(argc, argv) && !Background::detach()) {
        std::fprintf(stderr, "zhiwei-fortune-service: cannot start in the background: %s\n",
                     std::strerror(errno));
        return 1;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zhiwei-fortune-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));

    const auto parsed = ServiceOptions::parse(QCoreApplication::arguments());
    if (const QString *refused = std::get_if<QString>(&parsed))
        fail(*refused);
    const ServiceOptions &options = std::get<ServiceOptions>(parsed);
    if (options.probe)
        return reportWhoAnswers(options);

    raiseDescriptorLimit();
    // Outlives the service: at a clean end the socket it made goes.
    SocketClaim claim;
    FortuneService service;
    service.setCharset(options.charset);
    service.setNotice(options.notice);
    service.setDelayMs(options.delayMs);
    service.setHeadDeadline(options.headDeadline);
    if (options.date)
        service.setClock([date = *options.date] { return date; });

    if (!quitOnSignals())
        fail(QStringLiteral("cannot watch for SIGTERM and SIGINT"));

    if (const int handed = SocketActivation::takeHandedSockets(); handed > 0) {
        if (handed != 1)
            fail(QStringLiteral("was handed %1 sockets; it serves on one").arg(handed));
        if (const QString why = SocketActivation::whyNotListening(SocketActivation::FirstSocket);
            !why.isEmpty())
            fail(QStringLiteral("cannot serve on the socket handed over: %1").arg(why));
        if (!service.adopt(SocketActivation::FirstSocket))
            fail(QStringLiteral("cannot serve on the socket handed over: %1")
                     .arg(service.errorString()));
        if (options.portFile && service.port() == 0)
            fail(QStringLiteral("--port-file goes with a port; the socket handed over is %1")
                     .arg(service.socketPath()));
    } else if (options.port) {
        if (!service.listen(*options.port, QHostAddress::LocalHost))
            fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                     .arg(*options.port)
                     .arg(service.errorString()));
    } else {
        if (options.portFile)
            fail(QStringLiteral("--port-file goes with --port"));
        const QString path = options.socket.value_or(LocalService::userSocket());
        switch (claim.claim(path, [&service, &path](QString *why) {
            const bool listening = service.listenLocal(path);
            *why = service.errorString();
            return listening;
        })) {
        case SocketClaim::Outcome::Bound:
            break;
        case SocketClaim::Outcome::LiveOneThere:
            // Started again beside the one that serves: that one is shared.
            std::printf("zhiwei-fortune-service already listens on %s: sharing it\n",
                        qPrintable(path));
            return 0;
        case SocketClaim::Outcome::Refused:
            fail(QStringLiteral("cannot listen on %1: %2").arg(path, claim.why()));
        }
    }

    std::unique_ptr<IdleShutdown> idle;
    if (const int idleSeconds = options.idleSeconds; idleSeconds > 0) {
        idle = std::make_unique<IdleShutdown>(std::chrono::seconds(idleSeconds),
                                              QCoreApplication::applicationDirPath() +
                                                  QStringLiteral("/zhiweige"));
        QObject::connect(&service, &FortuneService::requestReceived, idle.get(),
                         &IdleShutdown::requested);
        QObject::connect(idle.get(), &IdleShutdown::stillInUse, idle.get(), [idleSeconds] {
            std::printf("idle for %d s, but the program still runs: staying\n", idleSeconds);
            std::fflush(stdout);
        });
        QObject::connect(idle.get(), &IdleShutdown::idle, idle.get(), [idleSeconds] {
            std::printf("idle for %d s: ending\n", idleSeconds);
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

    // Written whole or not at all, so whoever waits for the file never reads
    // half a number.
    if (options.portFile) {
        QSaveFile file(*options.portFile);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QByteArray::number(service.port()) + '\n') < 0 || !file.commit())
            fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    }

    std::printf(
        "zhiwei-fortune-service listening on %s\n",
        qPrintable(service.port() != 0 ? service.baseUrl().toString() : service.socketPath()));
    std::fflush(stdout);
    Background::ready();

    return app.exec();
}
