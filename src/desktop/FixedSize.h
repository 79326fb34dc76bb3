#pragma once

class QApplication;

// A window of fixed size keeps its client area. KWin without a decoration
// plugin leaves the title bar to Qt, but may size the window from the hints
// Qt sent before it knew it draws one: the title bar and border then come
// out of the client area, and the bottom of the window is cut off. Such a
// window is asked for its own size again, a few times at most.
namespace FixedSize {

void keep(QApplication *app);

} // namespace FixedSize
