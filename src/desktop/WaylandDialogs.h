#pragma once

class QGuiApplication;

// On GNOME's Wayland, modal dialogs open over the window they belong to.
// mutter centres a window over its parent only when it knows the window is
// a dialog, and Qt has no way to tell it so: the program says it itself,
// through GNOME's gtk_shell1 protocol, before the dialog first shows. Other
// compositors, and X11, need nothing of this; where there is no gtk_shell1
// nothing is done.
namespace WaylandDialogs {

void install(QGuiApplication *app);

} // namespace WaylandDialogs
