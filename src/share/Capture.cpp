#include "Capture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// However the screen lags, the picture is taken after this long, as the
// screen shows the window then.
constexpr int SettleLimitMs = 3000;
constexpr int SettlePollMs = 10;

template<typename T>
using XReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const XReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 1, uint16_t(qstrlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Up to `count` 32-bit values of a window property; empty when it is not set.
QList<quint32> property(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name,
                        xcb_atom_t type, uint32_t count)
{
    const XReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, window, name, type, 0, count),
                               nullptr),
        &std::free);
    QList<quint32> values;
    if (!reply || reply->format != 32)
        return values;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    for (int i = 0; i < xcb_get_property_value_length(reply.get()) / 4; ++i)
        values << data[i];
    return values;
}

// The outer edge of a top-level window on the screen, frame included, as the
// X server has it now. Qt learns the frame late and sometimes not until the
// window next moves; the server knows it as soon as the window manager has
// drawn it. No value while a window manager runs that has not framed the
// window yet.
std::optional<QRect> frameOnX11(QWidget *window)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return window->frameGeometry();
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window->winId());

    const XReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
    if (!geometry)
        return std::nullopt;
    const XReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, id, geometry->root, 0, 0), nullptr),
        &std::free);
    if (!origin)
        return std::nullopt;
    QRect frame(origin->dst_x, origin->dst_y, geometry->width, geometry->height);

    const bool managed = !property(connection, geometry->root,
                                   atom(connection, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 1)
                              .isEmpty();
    if (managed) {
        // Left, right, top, bottom; set when the window manager frames the window.
        const QList<quint32> extents = property(
            connection, id, atom(connection, "_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
        if (extents.size() != 4)
            return std::nullopt;
        frame.adjust(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
    }
    // The server counts device pixels, the window logical ones.
    const qreal ratio = window->devicePixelRatioF();
    return QRect((QPointF(frame.topLeft()) / ratio).toPoint(),
                 (QSizeF(frame.size()) / ratio).toSize());
}

// The window's outer edge: the server's answer where there is one, else Qt's.
QRect frameOf(QWidget *window)
{
    if (QGuiApplication::platformName() != u"xcb" || !window->isVisible())
        return window->frameGeometry();
    return frameOnX11(window).value_or(window->frameGeometry());
}

// The window as the screen shows it, frame and all. Only X11 lets a program
// read the screen; elsewhere, and for a window that is not on show, the
// result is null.
QImage grabFromScreen(QWidget *window, const QRect &area)
{
    if (QGuiApplication::platformName() != u"xcb")
        return {};
    if (!window->isVisible() || window->isMinimized())
        return {};
    QScreen *screen = window->screen();
    if (!screen)
        return {};
    // The frame belongs to the window manager, so neither QWidget::grab() nor
    // grabbing the window's own id can see it: read the root window instead.
    const QRect onScreen = area.translated(-screen->geometry().topLeft());
    const QPixmap shot =
        screen->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height());
    if (shot.isNull() || shot.size().isEmpty())
        return {};
    return shot.toImage();
}

// True once the screen shows the client area as the window draws it now:
// nothing of a menu that has just closed over it, nothing left unpainted.
bool screenShowsWindow(QWidget *window)
{
    const QImage own = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage shown =
        grabFromScreen(window, QRect(window->mapToGlobal(QPoint(0, 0)), window->size()))
            .convertToFormat(QImage::Format_RGB32);
    // A screen scaled unlike the window cannot be compared; take it as it is.
    return shown.isNull() || shown.size() != own.size() || shown == own;
}

// Lets the event loop run, the window staying live, until the window manager
// has framed the window and the screen shows it as it draws itself, or the
// limit has passed. False if the window went away meanwhile.
bool waitUntilOnScreen(QWidget *window)
{
    if (QGuiApplication::platformName() != u"xcb" || !window->isVisible() ||
        window->isMinimized())
        return true;
    const QPointer<QWidget> alive(window);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < SettleLimitMs) {
        // A popup still open would be part of the picture; one just closed
        // needs the window to repaint what it covered, and a compositor to
        // show that.
        if (!QApplication::activePopupWidget() && frameOnX11(window) &&
            screenShowsWindow(window))
            return true;
        QEventLoop loop;
        QTimer::singleShot(SettlePollMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (!alive)
            return false;
    }
    return true;
}

// The window drawn by itself, for where the screen cannot be read: its own
// contents inside a plain frame and title bar of the real frame's size.
QImage drawWindow(QWidget *window, bool client)
{
    const QImage contents = window->grab().toImage();
    if (client)
        return contents;

    const QRect frame = frameOf(window);
    const QPoint offset = window->geometry().topLeft() - frame.topLeft();
    QImage image(frame.size().expandedTo(contents.deviceIndependentSize().toSize()),
                 QImage::Format_RGB32);
    const QPalette palette = window->palette();
    image.fill(palette.color(QPalette::Active, QPalette::Dark));

    QPainter painter(&image);
    const QRect titleBar(0, 0, image.width(), offset.y());
    if (!titleBar.isEmpty()) {
        painter.fillRect(titleBar.adjusted(offset.x(), offset.x(), -offset.x(), 0),
                         palette.color(QPalette::Active, QPalette::Highlight));
        painter.setPen(palette.color(QPalette::Active, QPalette::HighlightedText));
        painter.setFont(window->font());
        const QRect textArea = titleBar.adjusted(offset.x() + 6, 0, -offset.x() - 6, 0);
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         painter.fontMetrics().elidedText(window->windowTitle(), Qt::ElideRight,
                                                          textArea.width()));
    }
    painter.drawImage(offset, contents);
    return image;
}

} // namespace

QPixmap CaptureForm(QWidget *form)
{
    // The size only counts once the frame is there.
    if (!form || !waitUntilOnScreen(form))
        return {};
    const QSize size = frameOf(form).size();
    return CaptureWindow(form, false, 0, 0, size.width(), size.height());
}

QPixmap CaptureWindow(QWidget *window, bool client, int left, int top, int width, int height)
{
    if (!window || width <= 0 || height <= 0 || !waitUntilOnScreen(window))
        return {};
    const QPoint origin = client ? window->mapToGlobal(QPoint(0, 0)) : frameOf(window).topLeft();
    const QRect area(origin + QPoint(left, top), QSize(width, height));

    QImage bitmap = grabFromScreen(window, area);
    if (bitmap.isNull())
        bitmap = drawWindow(window, client).copy(QRect(left, top, width, height));
    return CreateBitmapPicture(bitmap);
}

QPixmap CreateBitmapPicture(const QImage &bitmap)
{
    // A palette display would need its colour table attached to the picture
    // here; every display Qt drives is true colour, so there is none.
    return QPixmap::fromImage(bitmap);
}
