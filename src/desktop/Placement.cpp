#include "Placement.h"

#include "WindowFrame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <optional>

namespace Placement {
namespace {

// The size of the window's frame, once the window manager has framed it.
std::optional<QSize> frameSize(QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    if (!handle || !handle->isVisible())
        return std::nullopt;
    const std::optional<QRect> edge = WindowFrame::onScreen(window);
    if (!edge || edge->size() == window->size())
        return std::nullopt;
    return edge->size();
}

// The window manager has placed the window by now: it has framed it, or
// mapped it with no frame at all (KWin without its decorations). Either way
// it may have put it elsewhere than asked, as KWin does through XWayland.
bool placedByWindowManager(QWidget *window)
{
    if (frameSize(window))
        return true;
    const QWindow *handle = window->windowHandle();
    return handle && handle->isExposed() && WindowFrame::onScreen(window).has_value();
}

void place(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // For a window, move() places the frame's top-left corner.
    window->move(
        centredFrame(screen->availableGeometry(), frameSize(window).value_or(window->size())));
}

// Watches a window until the window manager has framed it, however long a
// busy machine makes that take, then centres the frame, wherever the window
// manager put it meanwhile. Through XWayland, KWin places a window only once
// it shows on the Wayland side, after Qt has already seen it exposed: for a
// moment after that, a move the window manager makes is undone.
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
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
        case QEvent::UpdateRequest:
        case QEvent::Paint:
            if (!m_settled ? placedByWindowManager(m_window)
                           : event->type() == QEvent::Move && misplaced())
                placeSoon();
            break;
        default:
            break;
        }
        return false;
    }

private:
    static constexpr int AfterwardsMs = 1500;
    static constexpr int MostCorrections = 3;

    bool misplaced() const
    {
        const QScreen *screen = m_window->screen();
        if (!screen)
            return false;
        const QRect edge = WindowFrame::outerEdge(m_window);
        return (edge.topLeft() - centredFrame(screen->availableGeometry(), edge.size()))
                   .manhattanLength() > 2;
    }

    void placeSoon()
    {
        if (m_pending)
            return;
        m_pending = true;
        // Not from inside the window system's own report.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_pending = false;
                if (!m_window)
                    return;
                place(m_window);
                if (!m_settled) {
                    m_settled = true;
                    QTimer::singleShot(AfterwardsMs, this, [this] {
                        if (m_window)
                            m_window->removeEventFilter(this);
                        deleteLater();
                    });
                } else if (++m_corrections >= MostCorrections) {
                    m_window->removeEventFilter(this);
                }
            },
            Qt::QueuedConnection);
    }

    QPointer<QWidget> m_window;
    bool m_settled = false;
    int m_corrections = 0;
    bool m_pending = false;
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
    if (!frameSize(window))
        new FrameWatcher(window);
}

} // namespace Placement
