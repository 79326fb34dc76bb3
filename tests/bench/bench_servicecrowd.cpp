// What one client can cost zhiwei-fortune-service on its Unix socket, shared
// by every user of the machine: its resident memory while thousands of
// connections send heads far over the limit, and its processor time while
// hundreds drip a header line every millisecond, and its memory while one
// client sends whole requests back to back without reading an answer. Starts
// the service itself on a socket in a folder of its own; prints the figures.
//
//   bench_servicecrowd <zhiwei-fortune-service> [crowd|drip|pipeline|all]
//     CROWD=4096 CROWD_SECONDS=25 DRIP=300 DRIP_SECONDS=20 PIPELINE_SECONDS=20
//     to change the load

#include "ProcStat.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int setting(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value ? std::atoi(value) : fallback;
}

double megabytes(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

struct Service
{
    pid_t pid = -1;
    std::string socket;
};

Service startService(const char *executable)
{
    char folder[] = "/tmp/zhiwei-crowd-XXXXXX"; // made 0700
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    Service service;
    service.socket = std::string(folder) + "/fortune.sock";
    service.pid = ::fork();
    if (service.pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(executable, executable, "--socket", service.socket.c_str(), nullptr);
        std::perror("exec");
        ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        struct stat about = {};
        if (::stat(service.socket.c_str(), &about) == 0)
            return service;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    std::fprintf(stderr, "the service made no socket at %s\n", service.socket.c_str());
    std::exit(1);
}

void stopService(const Service &service)
{
    ::kill(service.pid, SIGTERM);
    int status = 0;
    ::waitpid(service.pid, &status, 0);
    const std::string folder = service.socket.substr(0, service.socket.rfind('/'));
    ::unlink((folder + "/fortune.sock.lock").c_str());
    ::rmdir(folder.c_str());
}

int connectTo(const std::string &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A head that never ends: a request line, then header lines up to `size`.
QByteArray endlessHead(qsizetype size)
{
    QByteArray head = "GET /astro/view/leo/day/ HTTP/1.1\r\nHost: zhiweige\r\n";
    while (head.size() < size) {
        head += "X-Padding: ";
        head += QByteArray(std::min<qsizetype>(200, size - head.size()), 'x');
        head += "\r\n";
    }
    return head;
}

struct Client
{
    int fd = -1;
    qsizetype sent = 0;
    const QByteArray *head = nullptr;
};

// Connections sending heads of 1 kB to 64 kB, each held until the service
// closes it, then opened again at once.
void crowd(const Service &service)
{
    const int count = setting("CROWD", 4096);
    const int seconds = setting("CROWD_SECONDS", 25);
    const QByteArray heads[] = {endlessHead(1000), endlessHead(7000), endlessHead(9000),
                                endlessHead(64 * 1024)};
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<Client> clients(static_cast<size_t>(count));
    long reopened = 0;
    long refused = 0; // all told
    long missing = 0; // refused and not yet opened again
    const auto open = [&](size_t i) {
        Client &client = clients[i];
        client.fd = connectTo(service.socket);
        client.sent = 0;
        client.head = &heads[i % std::size(heads)];
        if (client.fd < 0) {
            ++refused;
            ++missing;
            return;
        }
        epoll_event event = {};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
        event.data.u64 = i;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, client.fd, &event);
    };
    for (size_t i = 0; i < clients.size(); ++i)
        open(i);

    qint64 peakDuring = 0;
    const auto start = Clock::now();
    auto nextSample = start;
    std::vector<epoll_event> events(1024);
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        const int ready = ::epoll_wait(poller, events.data(), int(events.size()), 10);
        for (int e = 0; e < ready; ++e) {
            Client &client = clients[events[e].data.u64];
            if (events[e].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                ::close(client.fd); // closed by the service: a new one in its place
                ++reopened;
                open(events[e].data.u64);
                continue;
            }
            if (client.sent < client.head->size()) {
                const ssize_t sent =
                    ::send(client.fd, client.head->constData() + client.sent,
                           size_t(client.head->size() - client.sent), MSG_NOSIGNAL);
                if (sent > 0)
                    client.sent += sent;
            }
            if (client.sent >= client.head->size()) {
                epoll_event event = {};
                event.events = EPOLLIN | EPOLLRDHUP;
                event.data.u64 = events[e].data.u64;
                ::epoll_ctl(poller, EPOLL_CTL_MOD, client.fd, &event);
            }
        }
        // Refused ones (a full backlog) are tried again.
        if (missing > 0) {
            missing = 0;
            for (size_t i = 0; i < clients.size(); ++i) {
                if (clients[i].fd < 0)
                    open(i);
            }
        }
        if (Clock::now() >= nextSample) {
            peakDuring = std::max(peakDuring, ProcStat::residentBytes(service.pid));
            nextSample += std::chrono::milliseconds(100);
        }
    }
    const qint64 highWater = ProcStat::peakResidentBytes(service.pid);
    for (Client &client : clients) {
        if (client.fd >= 0)
            ::close(client.fd);
    }
    ::close(poller);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::printf("crowd: %d connections, heads of 1 to 64 kB, %d s: %ld closed by the service "
                "and opened again, %ld connects refused; service resident peak %.1f MB (sampled "
                "%.1f MB), %.1f MB "
                "after; %.2f s of processor\n",
                count, seconds, reopened, refused, megabytes(highWater), megabytes(peakDuring),
                megabytes(ProcStat::residentBytes(service.pid)),
                double(ProcStat::processorTime(service.pid).count()) / 1000.0);
}

// Connections each sending a two-byte header line every millisecond, opened
// again when the service closes them (a head reaches its limit in 4 s).
void drip(const Service &service)
{
    const int count = setting("DRIP", 300);
    const int seconds = setting("DRIP_SECONDS", 20);
    const QByteArray requestLine = "GET /astro/view/leo/day/ HTTP/1.1\r\n";
    std::vector<int> fds(size_t(count), -1);
    const auto open = [&](int &fd) {
        fd = connectTo(service.socket);
        if (fd >= 0)
            ::send(fd, requestLine.constData(), size_t(requestLine.size()), MSG_NOSIGNAL);
    };
    for (int &fd : fds)
        open(fd);
    const std::chrono::milliseconds before = ProcStat::processorTime(service.pid);
    const auto start = Clock::now();
    auto tick = start;
    long lines = 0;
    long reopened = 0;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        for (int &fd : fds) {
            if (fd >= 0 && ::send(fd, "a\n", 2, MSG_NOSIGNAL) == 2) {
                ++lines;
                continue;
            }
            if (fd >= 0 && errno == EAGAIN)
                continue;
            if (fd >= 0)
                ::close(fd);
            ++reopened;
            open(fd);
        }
        tick += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(tick);
    }
    const std::chrono::milliseconds used = ProcStat::processorTime(service.pid) - before;
    for (const int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
    std::printf("drip: %d connections, a 2-byte line each every ms, %d s: %ld lines sent, %ld "
                "connections opened again; service processor %.3f s, resident %.1f MB\n",
                count, seconds, lines, reopened, double(used.count()) / 1000.0,
                megabytes(ProcStat::residentBytes(service.pid)));
}

// How long another client waits for a whole answer, in ms; -1 for none in 5 s.
double answerMs(const Service &service)
{
    const auto start = Clock::now();
    const int fd = connectTo(service.socket);
    const char request[] = "GET /kwgamejc/xz/jc.txt HTTP/1.1\r\nConnection: close\r\n\r\n";
    ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
    char buffer[4096];
    ssize_t got = -1;
    while (Clock::now() - start < std::chrono::seconds(5) &&
           ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0 || (got < 0 && errno == EAGAIN)))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::close(fd);
    return got == 0 ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
}

// One client sending whole requests back to back, never reading an answer;
// another client asks once a second meanwhile.
void pipeline(const Service &service)
{
    const int seconds = setting("PIPELINE_SECONDS", 20);
    const int fd = connectTo(service.socket);
    const QByteArray requests =
        QByteArray("GET /astro/view/leo/day/ HTTP/1.1\r\nHost: x\r\n\r\n").repeated(1500);
    long sent = 0;
    double slowest = 0;
    const auto start = Clock::now();
    for (auto ask = start + std::chrono::seconds(1);
         Clock::now() - start < std::chrono::seconds(seconds);) {
        const ssize_t got = ::send(fd, requests.constData(), size_t(requests.size()), MSG_NOSIGNAL);
        sent += std::max<ssize_t>(got, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(got > 0 ? 0 : 1));
        if (Clock::now() >= ask) {
            const double ms = answerMs(service);
            slowest = ms < 0 || slowest < 0 ? -1 : std::max(slowest, ms);
            ask += std::chrono::seconds(1);
        }
    }
    const qint64 highWater = ProcStat::peakResidentBytes(service.pid);
    ::close(fd);
    std::printf("pipeline: 1 client sending whole requests without reading, %d s: %.1f kB taken "
                "from it; another client answered within %.1f ms every second (-1: once not at "
                "all), %.1f ms after; service resident peak %.1f MB\n",
                seconds, double(sent) / 1024.0, slowest, answerMs(service), megabytes(highWater));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <zhiwei-fortune-service> [crowd|drip|pipeline|all]\n",
                     argv[0]);
        return 2;
    }
    // As many descriptors as the crowd needs, and the service after it.
    rlimit limit = {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 16384);
    limit.rlim_max = std::max(limit.rlim_max, limit.rlim_cur);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        std::perror("setrlimit (more descriptors)");
    const std::string what = argc > 2 ? argv[2] : "all";
    if (what == "crowd" || what == "all") {
        const Service service = startService(argv[1]);
        crowd(service);
        stopService(service);
    }
    if (what == "drip" || what == "all") {
        const Service service = startService(argv[1]);
        drip(service);
        stopService(service);
    }
    if (what == "pipeline" || what == "all") {
        const Service service = startService(argv[1]);
        pipeline(service);
        stopService(service);
    }
    return 0;
}
