#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where a window opens: its whole frame centred on the screen's free area,
// and never with its title bar out of reach.
namespace Placement {

// The top-left corner of a frame of that size centred on the area, moved
// right and down onto the area when the frame is larger than it.
QPoint centredFrame(const QRect &available, QSize frame);

// Places the window's frame there now (before it is shown the frame is not
// known yet, and the client area stands in for it), and once more when the
// window manager has framed it.
void centre(QWidget *window);

} // namespace Placement
