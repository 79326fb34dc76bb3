#pragma once

#include "Endpoints.h"

#include <QString>

class QWidget;

// The main window and all that lies behind it (the fortune download, the
// music, the share menu) live in a library of the program's own, which the
// program loads while its splash fades in: the splash comes up without the
// libraries they need (Qt Network, Qt Multimedia, PulseAudio and more) and
// the linking of them.
namespace WindowLibrary {

// The library's one entry: makes the main window for the built-in
// endpoints and the program's folder, and shows it.
using Entry = QWidget *(*)(const Endpoints &endpoints, const QString &appDir);
inline constexpr char EntryName[] = "zhiwei_open_main_window";
// Found through the program's own run path: in the build tree's library
// folder, in the package's private library folder once installed.
inline constexpr char FileName[] = "libzhiweige-window.so";

// Loads the library; true once it is loaded. Again after a failure, it
// tries again.
bool load();
// Loads the library if it is not yet, and opens the main window; null, with
// why said on the terminal, where the library cannot be loaded.
QWidget *openMainWindow(const Endpoints &endpoints, const QString &appDir);

} // namespace WindowLibrary
