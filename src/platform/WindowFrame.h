#pragma once

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

} // namespace WindowFrame
