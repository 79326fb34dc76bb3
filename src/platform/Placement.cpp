#include "Placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace Placement {
namespace {

QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle && handle->isVisible() ? handle->frameMargins() : QMargins();
}

void place(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // For a window, move() places the frame's top-left corner.
    window->move(
        centredFrame(screen->availableGeometry(), window->size().grownBy(frameOf(window))));
}

// Watches a window until the window manager has framed it, however long a
// busy machine makes that take, then centres the frame once. A window that
// is never framed (no window manager) is already where it belongs.
class FrameWatcher : public QObject
{
public:
    explicit FrameWatcher(QWidget *window)
        : QObject(window)
        , m_window(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
        case QEvent::UpdateRequest:
        case QEvent::Paint:
            if (watched == m_window && !frameOf(m_window).isNull()) {
                m_window->removeEventFilter(this);
                // Not from inside the window system's own report.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (m_window)
                            place(m_window);
                        deleteLater();
                    },
                    Qt::QueuedConnection);
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

QPoint centredFrame(const QRect &available, QSize frame)
{
    const QPoint centred(available.x() + (available.width() - frame.width()) / 2,
                         available.y() + (available.height() - frame.height()) / 2);
    return {std::max(centred.x(), available.left()), std::max(centred.y(), available.top())};
}

void centre(QWidget *window)
{
    place(window);
    if (frameOf(window).isNull())
        new FrameWatcher(window);
}

} // namespace Placement
