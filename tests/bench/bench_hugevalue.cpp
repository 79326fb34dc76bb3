// A page just under the fetcher's 4 MiB limit whose lucky colour is 3.9
// million characters: how long the window's thread works to complete it
// (parse, clean, show and paint) and to show a hover over that value.
// Prints the processor time of the window's thread and the wall time.
#include "TestPages.h"
#include "WindowKit.h"
#include "app/MainWindow.h"
#include "core/QueryFlow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolTip>

#include <cstdio>
#include <ctime>

namespace {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Span
{
    double processor = 0;
    qint64 wallMs = 0;
};

template <typename Work> Span measure(Work work)
{
    QElapsedTimer wall;
    wall.start();
    const double before = threadSeconds();
    work();
    return {threadSeconds() - before, wall.elapsed()};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int length = argc > 1 ? QByteArray(argv[1]).toInt() : 3'900'000;

    PageSpec spec;
    spec.colour = QString(length, u'y');
    const QByteArray page = TestPages::page(spec).toUtf8();
    MainWindowFixture main;
    if (!main.serve([&page](const httpkit::Request &) { return httpkit::Response::html(page); }))
        return 1;

    main.environment.completionDelay = std::chrono::milliseconds(0);
    MainWindow &form = *main.open(MainWindowFixture::Wait::No);
    auto *flow = form.findChild<QueryFlow *>();
    auto *colour = form.findChild<QLabel *>(QStringLiteral("Label7"));

    // The completion: from the tick to the panel painted.
    QEventLoop waiting;
    Span completion;
    double tickedAt = 0;
    QElapsedTimer wall;
    QObject::connect(flow, &QueryFlow::ticked, &form, [&] {
        tickedAt = threadSeconds();
        wall.start();
    });
    QObject::connect(flow, &QueryFlow::completed, &form, [&] {
        form.repaint();
        completion = {threadSeconds() - tickedAt, wall.elapsed()};
        waiting.exit(0);
    });
    QObject::connect(
        flow, &QueryFlow::failed, &form, [&waiting](const SignInfo &, const FetchResult &result) {
            std::fprintf(stderr, "the page did not come: %s\n", qPrintable(result.errorString));
            waiting.exit(1);
        });
    form.findChild<QPushButton *>(QStringLiteral("Command7"))->click();
    // A loop of its own: quitting the application would close the window
    // through its exit prompt.
    if (waiting.exec() != 0)
        return 1;

    // A hover over the value: the tool tip asked for, shown and painted.
    const Span hover = measure([&] {
        QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), colour->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(colour, &help);
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->inherits("QTipLabel"))
                window->repaint();
        }
    });

    std::printf("value of %d characters, shown as %lld\n", length,
                static_cast<long long>(colour->text().size()));
    std::printf("completion: %.1f ms of processor, %lld ms wall\n", completion.processor * 1000,
                static_cast<long long>(completion.wallMs));
    std::printf("hover:      %.1f ms of processor, %lld ms wall (tool tip %s)\n",
                hover.processor * 1000, static_cast<long long>(hover.wallMs),
                QToolTip::isVisible() ? "shown" : "not shown");
    return 0;
}
