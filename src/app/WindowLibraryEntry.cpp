// The main window's library's side: its one entry.
#include "MainWindow.h"
#include "WindowLibrary.h"
#include "desktop/WaylandDialogs.h"

#include <QGuiApplication>

extern "C" Q_DECL_EXPORT QWidget *zhiwei_open_main_window(const Endpoints &endpoints,
                                                          const QString &appDir)
{
    // Only the main window opens dialogs: they are told to GNOME's
    // compositor from now on.
    WaylandDialogs::install(qGuiApp);
    MainWindow::Environment environment;
    environment.endpoints = endpoints;
    environment.appDir = appDir;
    auto *window = new MainWindow(environment);
    window->show();
    return window;
}

// Both sides agree on the entry's type.
static_assert(std::is_same_v<decltype(&zhiwei_open_main_window), WindowLibrary::Entry>);
