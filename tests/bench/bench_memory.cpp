// Memory after many queries: main windows side by side (offscreen) run
// queries against the offline fortune service until 1,000 fortunes have been
// shown, and the resident set size is read after the first 10 and at the end.
#include "FortuneService.h"
#include "WindowKit.h"
#include "app/MainWindow.h"
#include "core/QueryFlow.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

long statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    constexpr int Windows = 10;

    FortuneService service;
    if (!service.listen(0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    std::vector<std::unique_ptr<MainWindow>> windows;
    int shown = 0;
    long afterTen = 0;
    for (int i = 0; i < Windows; ++i) {
        MainWindowFixture main(service.baseUrl());
        main.create();
        main.control<QTimer>("Timer3")->stop();
        std::unique_ptr<MainWindow> window = main.release();
        MainWindow *form = window.get();
        QueryFlow *flow = form->findChild<QueryFlow *>();
        const auto click = [form](const QString &button) {
            form->findChild<QPushButton *>(button)->click();
        };
        QObject::connect(flow, &QueryFlow::completed, form, [&, click, i] {
            ++shown;
            if (shown == 10)
                afterTen = statusKilobytes("VmRSS:");
            if (shown % 250 == 0)
                std::printf("  after %d queries: %ld KiB\n", shown, statusKilobytes("VmRSS:"));
            if (shown >= total) {
                app.quit();
                return;
            }
            // The next sign, and now and then the other day.
            if (shown % 7 == 0)
                click(QStringLiteral("Command18"));
            click(SignTable::all()[(shown + i) % 12].button.toString());
        });
        click(SignTable::all()[i % 12].button.toString());
        windows.push_back(std::move(window));
    }
    app.exec();
    const long atEnd = statusKilobytes("VmRSS:");
    std::printf("resident after 10 queries: %ld KiB; after %d queries: %ld KiB (%+ld KiB); "
                "peak %ld KiB\n",
                afterTen, shown, atEnd, atEnd - afterTen, statusKilobytes("VmHWM:"));
    return 0;
}
