// zhiwei-fortune-service: the offline fortune site on 127.0.0.1, for the
// program to use with no internet and for scripts and tests to start. Run
// by systemd on the socket it hands over, or started by the launcher where
// there is no systemd; then it ends by itself once nobody needs it.

#include "Background.h"
#include "FortuneService.h"
#include "IdleShutdown.h"
#include "ServiceOptions.h"
#include "ServiceProbe.h"
#include "SocketActivation.h"

#include <QCoreApplication>
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
int reportWhoAnswers(quint16 port)
{
    constexpr int TimeoutSeconds = 5;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    const ServiceProbe::Verdict verdict =
        ServiceProbe::whoAnswers(port, std::chrono::seconds(TimeoutSeconds));
    QString says;
    int status = 0;
    switch (verdict.holder) {
    case ServiceProbe::Holder::Ours:
        says = QStringLiteral("zhiwei-fortune-service answers");
        break;
    case ServiceProbe::Holder::Nothing:
        says = QStringLiteral("nothing listens");
        status = 1;
        break;
    case ServiceProbe::Holder::Other:
        says = QStringLiteral("another program holds it");
        status = 2;
        break;
    case ServiceProbe::Holder::Silent:
        says = QStringLiteral("no answer within %1 s").arg(TimeoutSeconds);
        status = 3;
        break;
    case ServiceProbe::Holder::AnotherUser:
        says = QStringLiteral("held by another user, %1 (uid %2)")
                   .arg(ServiceProbe::userName(verdict.owner))
                   .arg(verdict.owner);
        status = 4;
        break;
    case ServiceProbe::Holder::Unknown:
        says = QStringLiteral("answered as the service from a socket whose owner cannot be told");
        status = 5;
        break;
    }
    std::printf("%s: %s\n", qPrintable(address), qPrintable(says));
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
        return reportWhoAnswers(options.port);

    raiseDescriptorLimit();
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
    } else if (!service.listen(options.port, QHostAddress::LocalHost)) {
        fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                 .arg(options.port)
                 .arg(service.errorString()));
    }

    std::unique_ptr<IdleShutdown> idle;
    if (const int idleSeconds = options.idleSeconds; idleSeconds > 0) {
        idle = std::make_unique<IdleShutdown>(std::chrono::seconds(idleSeconds),
                                              QCoreApplication::applicationDirPath() +
                                                  QStringLiteral("/zhiweige"));
        QObject::connect(&service, &FortuneService::requestReceived, idle.get(),
                         &IdleShutdown::restart);
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

    std::printf("zhiwei-fortune-service listening on %s\n",
                qPrintable(service.baseUrl().toString()));
    std::fflush(stdout);
    Background::ready();

    return app.exec();
}
