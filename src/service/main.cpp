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

#include "net/LocalService.h"

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
constexpr std::chrono::seconds ProbeTimeout(5);

// Only async-signal-safe work here: the event loop picks the byte up.
void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so the program exits 0 after
// removing the socket it made, like any other clean shutdown.
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

// The line --probe prints for `where`, and its exit status.
int report(const QString &where, ServiceProbe::Holder holder, const QString &unfit = {})
{
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
    case ServiceProbe::Holder::HungUp:
        says = QStringLiteral("hangs up without answering");
        status = 2;
        break;
    case ServiceProbe::Holder::Silent:
        says = QStringLiteral("no answer within %1 s").arg(ProbeTimeout.count());
        status = 3;
        break;
    }
    std::printf("%s: %s\n", qPrintable(where), qPrintable(says));
    return status;
}

// What --probe says, also as its exit status: of the socket the program
// would use, asked through its folder as opened.
int reportWhoAnswers(const ServiceOptions &options)
{
    if (options.port) {
        return report(QStringLiteral("127.0.0.1:%1").arg(*options.port),
                      ServiceProbe::atPort(*options.port, ProbeTimeout));
    }
    LocalService::Choice choice;
    if (options.socket) {
        choice = LocalService::given(*options.socket);
    } else {
        choice = LocalService::choose(options.systemSocket);
        if (choice.system) {
            const ServiceProbe::Holder holder =
                ServiceProbe::atSocket(choice.address, ProbeTimeout);
            if (holder != ServiceProbe::Holder::Nothing && holder != ServiceProbe::Holder::HungUp)
                return report(choice.socket, holder);
            // Nobody serves behind the system's socket (a stopped unit leaves
            // it behind; a service that cannot start hangs up): the program
            // then uses the person's own, and so does this.
            report(choice.socket, holder);
            choice = LocalService::choose(options.systemSocket, /*skipSystem=*/true);
        }
    }
    const ServiceProbe::Holder holder = choice.unfit.isEmpty() && !choice.address.isEmpty()
                                            ? ServiceProbe::atSocket(choice.address, ProbeTimeout)
                                            : ServiceProbe::Holder::Nothing;
    return report(choice.socket, holder, choice.unfit);
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
    QString shownSocket; // the socket claimed, as people name it
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
        // The person's own folder is the service's to make and to close to
        // others; any other folder named with --socket is used as it is.
        using LocalService::Folder;
        const bool own = !options.socket || *options.socket == LocalService::userSocket();
        const QFileInfo given(options.socket.value_or(QString()));
        Folder folder =
            own ? Folder::user(Folder::Use::Own) : Folder(given.path(), Folder::Use::Given);
        const QString name = own ? QString(LocalService::SocketName) : given.fileName();
        shownSocket = options.socket.value_or(folder.path() + u'/' + name);
        switch (
            claim.claim(std::move(folder), name, [&service](const QString &address, QString *why) {
                const bool listening = service.listenLocal(address);
                *why = service.errorString();
                return listening;
            })) {
        case SocketClaim::Outcome::Bound:
            break;
        case SocketClaim::Outcome::LiveOneThere:
            // Started again beside the one that serves: that one is shared.
            std::printf("zhiwei-fortune-service already listens on %s: sharing it\n",
                        qPrintable(shownSocket));
            return 0;
        case SocketClaim::Outcome::Refused:
            fail(QStringLiteral("cannot listen on %1: %2").arg(shownSocket, claim.why()));
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

    if (shownSocket.isEmpty())
        shownSocket = service.port() != 0 ? service.baseUrl().toString() : service.socketPath();
    std::printf("zhiwei-fortune-service listening on %s\n", qPrintable(shownSocket));
    std::fflush(stdout);
    Background::ready();

    return app.exec();
}
