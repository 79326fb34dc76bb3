#pragma once

#include "app/MainWindow.h"

#include "HttpServer.h"

#include <QApplication>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

class QComboBox;
class QueryFlow;

// The twenty star images, row by row (综合, 爱情, 工作, 理财), each row from the left.
constexpr int StarImages[] = {1,  2,  3,  4,  5,  10, 9,  8,  7,  6,
                              15, 14, 13, 12, 11, 20, 19, 18, 17, 16};

// What the fortune panel of a main window shows, to compare before and after.
struct PanelSnapshot
{
    QStringList captions; // Label5 .. Label12
    QList<bool> stars;    // the twenty stars, row by row, left to right
    QImage picture;       // Image21
    QString pageText;     // the last page stored

    static PanelSnapshot of(const MainWindow &form);
    bool operator==(const PanelSnapshot &) const = default;
};

// A control of a window by its written name.
template <typename T = QWidget> T *controlOf(const QObject *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// The main window as a test has it: its environment, with every address on
// base (none when base is empty) or on a server of the test's own; an app
// folder of its own if asked; the window. The fixture owns them all and lets
// the window go first.
class MainWindowFixture
{
public:
    enum class Wait { No, Exposed, Active };

    explicit MainWindowFixture(const QUrl &base = {});

    // Serves the window's pages with handler: every address moves there.
    bool serve(httpkit::Handler handler);
    // An empty folder as the executable's: no tune, no skin there.
    void useOwnAppDir();

    // The window as the program builds it: not shown, its version check ticking.
    MainWindow *create();
    // The window with no version check (its one-second tick stopped), shown,
    // and exposed or active when it returns; null if it never got there.
    MainWindow *open(Wait until = Wait::Exposed);
    // The window, the server and the folder gone; the environment stays.
    void close();
    // For a test that keeps the window past the fixture.
    std::unique_ptr<MainWindow> release() { return std::move(m_form); }

    MainWindow *form() const { return m_form.get(); }
    httpkit::Server *server() const { return m_server.get(); }
    template <typename T = QWidget> T *control(const char *name) const
    {
        return controlOf<T>(m_form.get(), name);
    }

    MainWindow::Environment environment;

private:
    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<httpkit::Server> m_server;
    std::unique_ptr<MainWindow> m_form;
};

// Picks a row of a combo box as a click on its open list does.
void pickRow(QComboBox *combo, int index);

// The window's query flow, whose signals tell when a query ends.
QueryFlow *flowOf(const MainWindow &form);

// Runs `act` on the modal dialog of type T as soon as it is up. Polls from a
// timer, so it works whichever event loop shows the dialog.
template <typename T> void whenModal(QObject *context, std::function<void(T *)> act)
{
    auto *poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, act] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(dialog);
        }
    });
    poll->start(10);
}

// Processor time this process has used so far, user and system, in seconds.
double processorSeconds();
