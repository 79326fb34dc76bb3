#include "WindowFrame.h"

#include <QGuiApplication>
#include <QWidget>

#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace WindowFrame {
namespace {

template <typename T> using XReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const XReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, uint16_t(qstrlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Up to `count` 32-bit values of a window property; empty when it is not set.
QList<quint32> property(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name,
                        xcb_atom_t type, uint32_t count)
{
    const XReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, name, type, 0, count), nullptr),
        &std::free);
    QList<quint32> values;
    if (!reply || reply->format != 32)
        return values;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    for (int i = 0; i < xcb_get_property_value_length(reply.get()) / 4; ++i)
        values << data[i];
    return values;
}

} // namespace

std::optional<QRect> onScreen(QWidget *window)
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
        const QList<quint32> extents =
            property(connection, id, atom(connection, "_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
        if (extents.size() != 4)
            return std::nullopt;
        frame.adjust(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
    }
    // The server counts device pixels, the window logical ones.
    const qreal ratio = window->devicePixelRatioF();
    return QRect((QPointF(frame.topLeft()) / ratio).toPoint(),
                 (QSizeF(frame.size()) / ratio).toSize());
}

QRect outerEdge(QWidget *window)
{
    if (QGuiApplication::platformName() != u"xcb" || !window->isVisible())
        return window->frameGeometry();
    return onScreen(window).value_or(window->frameGeometry());
}

} // namespace WindowFrame
