// The processor time the program spends while a page download waits on a
// server that never answers: the wait must cost next to nothing.
#include "HttpServer.h"
#include "net/PageFetcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int waitMs = argc > 1 ? QByteArray(argv[1]).toInt() : 5000;

    httpkit::Server silent([](const httpkit::Request &) {
        httpkit::Response response;
        response.delivery = httpkit::Response::Delivery::Silent;
        return response;
    });
    if (!silent.listen()) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(silent.errorString()));
        return 1;
    }

    QNetworkAccessManager network;
    PageFetcher fetcher(&network);
    FetchLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(waitMs * 4);
    limits.totalTimeout = std::chrono::milliseconds(waitMs * 4);
    fetcher.setLimits(limits);

    // Let the connection settle before measuring.
    FetchReply *reply =
        fetcher.fetch(silent.baseUrl().resolved(QUrl(QStringLiteral("/astro/view/leo/day/"))));
    double cpuBefore = 0;
    QElapsedTimer wall;
    QTimer::singleShot(200, [&] {
        cpuBefore = cpuSeconds();
        wall.start();
        QTimer::singleShot(waitMs, [&] {
            const double cpu = cpuSeconds() - cpuBefore;
            const double seconds = double(wall.elapsed()) / 1000.0;
            std::printf(
                "waited %.2f s on a silent server: %.3f s of processor time, %.2f%% of one core\n",
                seconds, cpu, 100.0 * cpu / seconds);
            reply->abort();
            app.quit();
        });
    });
    return app.exec();
}
