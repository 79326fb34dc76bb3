#include "FixedSize.h"

#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QPointer>
#include <QWidget>

namespace FixedSize {
namespace {

class Keeper : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Resize || !watched->isWidgetType())
            return false;
        auto *window = static_cast<QWidget *>(watched);
        const QSize fixed = window->minimumSize();
        if (!window->isWindow() || fixed != window->maximumSize() || fixed.isEmpty() ||
            window->size() == fixed ||
            (window->windowState() &
             (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
            return false;
        // Not without end: a compositor that insists has the last word.
        int &asked = m_asked[window];
        if (asked >= MostRequests)
            return false;
        if (asked++ == 0)
            connect(window, &QObject::destroyed, this, [this, window] { m_asked.remove(window); });
        // Not from inside the window system's own report of the size.
        QMetaObject::invokeMethod(
            window,
            [window = QPointer<QWidget>(window)] {
                if (window && window->size() != window->minimumSize() &&
                    window->minimumSize() == window->maximumSize())
                    window->resize(window->minimumSize());
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    static constexpr int MostRequests = 3;
    QHash<QObject *, int> m_asked;
};

} // namespace

void keep(QApplication *app)
{
    app->installEventFilter(new Keeper(app));
}

} // namespace FixedSize
