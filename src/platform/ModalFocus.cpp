#include "ModalFocus.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

namespace ModalFocus {
namespace {

class Keeper : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate && watched->isWidgetType()) {
            auto *window = static_cast<QWidget *>(watched);
            QWidget *modal = QApplication::activeModalWidget();
            // A window the dialog owns (a message box of its own) is not blocked.
            if (window->isWindow() && modal && modal != window && !modal->isAncestorOf(window)) {
                // Not from inside the activation itself.
                const QPointer<QWidget> dialog(modal);
                QMetaObject::invokeMethod(
                    this,
                    [dialog] {
                        if (!dialog || !dialog->isVisible() ||
                            QApplication::activeModalWidget() != dialog)
                            return;
                        // Wayland has no raise: activation brings it forward.
                        if (!QGuiApplication::platformName().startsWith(u"wayland"))
                            dialog->raise();
                        dialog->activateWindow();
                    },
                    Qt::QueuedConnection);
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
