#pragma once

class QWidget;

namespace WindowOpacity {

// Sets a window's whole opacity (0 clear .. 1 opaque) and hands the change to
// the window system at once. On X11 Qt only queues the property change; with
// nothing repainting (as in a fade), it would sit in the queue unseen.
void set(QWidget *window, double level);

} // namespace WindowOpacity
