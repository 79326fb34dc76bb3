#include "ModalFocus.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <qpa/qplatformwindow.h>

namespace ModalFocus {
namespace {

// Set on a window once it has been on screen since it was last shown.
constexpr char OnScreen[] = "zhiweiOnScreen";

// Wayland lets no program raise a window, and sway takes a request for
// activation as a mere hint. A window shown anew, though, opens on top and
// takes the focus: so the dialog's surface is shown again, the dialog itself
// never hidden (that would end its modal loop).
void showAgain(QWidget *dialog)
{
    QWindow *window = dialog->windowHandle();
    QPlatformWindow *surface = window ? window->handle() : nullptr;
    // A dialog not on screen yet opens on top by itself; shown again while
    // its first showing is under way, it would never come up. One that has
    // been on screen may read as not exposed now: sway 1.10 suspends a
    // window hidden behind another, and Qt 6.8 then stops drawing it.
    if (!surface || !(window->isExposed() || window->property(OnScreen).toBool()))
        return;
    surface->setVisible(false);
    surface->setVisible(true);
}

class Keeper : public QObject
{
public:
    using QObject::QObject;

private:
    static constexpr int SettleMs = 300;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched->isWindowType()) {
            if (event->type() == QEvent::Show)
                watched->setProperty(OnScreen, false);
            else if (event->type() == QEvent::Expose &&
                     static_cast<QWindow *>(watched)->isExposed())
                watched->setProperty(OnScreen, true);
        }
        if (event->type() == QEvent::WindowActivate && watched->isWidgetType()) {
            auto *window = static_cast<QWidget *>(watched);
            QWidget *modal = QApplication::activeModalWidget();
            // A window the dialog owns (a message box of its own) is not blocked.
            if (window->isWindow() && modal && modal != window && !modal->isAncestorOf(window)) {
                // The focus passes by a blocked window on its own as dialogs
                // come and go; only one that keeps it has gone over the dialog.
                const QPointer<QWidget> blocked(window);
                const QPointer<QWidget> dialog(modal);
                QTimer::singleShot(SettleMs, this, [blocked, dialog] {
                    if (!blocked || !dialog || !dialog->isVisible() ||
                        QApplication::activeModalWidget() != dialog ||
                        QApplication::activeWindow() != blocked)
                        return;
                    if (QGuiApplication::platformName().startsWith(u"wayland"))
                        showAgain(dialog);
                    else
                        dialog->raise();
                    dialog->activateWindow();
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void keepInFront(QApplication *app)
{
    app->installEventFilter(new Keeper(app));
}

} // namespace ModalFocus
