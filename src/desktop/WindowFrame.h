#pragma once

#include <QImage>
#include <QRect>

#include <optional>

class QWidget;

// Where a top-level window's outer edge is, frame and title bar included.
namespace WindowFrame {

// As the X server has it now. Qt learns the frame late, and sometimes not
// until the window next moves; the server knows it as soon as the window
// manager has framed the window. No value while a window manager runs that
// has not framed it yet. Off X11, Qt's own idea of the frame.
std::optional<QRect> onScreen(QWidget *window);

// The server's answer where there is one, else Qt's.
QRect outerEdge(QWidget *window);

// The pixels of the outermost window that holds this one (the window
// manager's frame, or the window itself where it is not reparented), read
// from the X server, which keeps them even where it cannot show the screen
// (rootless XWayland). `client` is where the window's own area lies in the
// picture, in device pixels. No value off X11 or when they cannot be read.
struct Contents
{
    QImage image;
    QRect client;
};
std::optional<Contents> contents(QWidget *window);

} // namespace WindowFrame
