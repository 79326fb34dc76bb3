#pragma once

class QApplication;

// A modal dialog stays in front of the windows it blocks. X11 window managers
// keep a dialog above its parent themselves; a Wayland compositor such as
// sway raises whichever window is clicked, and a dialog left behind its
// parent swallows every click while it cannot be seen. So when a blocked
// window becomes active, the dialog is activated again.
namespace ModalFocus {

void keepInFront(QApplication *app);

} // namespace ModalFocus
