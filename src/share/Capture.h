#pragma once

#include <QPixmap>

class QWidget;

// A picture of the window as the person sees it, at its size on the screen:
// with the window manager's frame where X shows one and lets it be read,
// else the client area alone (another platform, a window not on screen, a
// frame the compositor draws). Null if the window went away meanwhile.
QPixmap pictureOfWindow(QWidget *window);
