#pragma once

class QWidget;

namespace WindowOpacity {

// Sets a window's whole opacity (0 clear .. 1 opaque) and hands the change to
// the window system at once. On X11 Qt only queues the property change; with
// nothing repainting (as in a fade), it would sit in the queue unseen.
void set(QWidget *window, double level);

// How a window can fade on this display. Without a compositor (bare X11)
// only the window's opacity exists, and shows nowhere. Native Wayland has no
// window opacity at all, only the alpha of the window's own pixels. On X11
// with a compositor both exist, and each compositor honours one or the
// other: mutter, KWin and xcompmgr the opacity, sway's and weston's
// XWayland only the pixels' alpha.
struct Method
{
    bool windowOpacity = true;
    bool pixelAlpha = false;
};
Method method();

// True while a compositing manager runs on the X display.
bool x11Composited();

} // namespace WindowOpacity
