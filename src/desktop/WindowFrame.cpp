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

// The window's ancestor just below the root: what the window manager framed
// it in, or the window itself where it is not reparented.
xcb_window_t outermost(xcb_connection_t *connection, xcb_window_t window)
{
    for (int depth = 0; depth < 8; ++depth) {
        const XReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr),
            &std::free);
        if (!tree || tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE)
            break;
        window = tree->parent;
    }
    return window;
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
        if (extents.size() == 4) {
            frame.adjust(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
        } else {
            // The window managers of XWayland under sway and weston never
            // set the extents. Once the window manager has mapped the
            // window, whatever holds it is its frame.
            const XReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(connection,
                                                xcb_get_window_attributes(connection, id), nullptr),
                &std::free);
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                return std::nullopt;
            const xcb_window_t holder = outermost(connection, id);
            if (holder != id) {
                const XReply<xcb_get_geometry_reply_t> outer(
                    xcb_get_geometry_reply(connection, xcb_get_geometry(connection, holder),
                                           nullptr),
                    &std::free);
                if (!outer)
                    return std::nullopt;
                frame = QRect(outer->x, outer->y, outer->width, outer->height);
            }
        }
    }
    // The server counts device pixels, the window logical ones.
    const qreal ratio = window->devicePixelRatioF();
    return QRect((QPointF(frame.topLeft()) / ratio).toPoint(),
                 (QSizeF(frame.size()) / ratio).toSize());
}

std::optional<Contents> contents(QWidget *window)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || !window->testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window->winId());

    const xcb_window_t outer = outermost(connection, id);
    const XReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, outer), nullptr),
        &std::free);
    const XReply<xcb_translate_coordinates_reply_t> offset(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, id, outer, 0, 0), nullptr),
        &std::free);
    if (!geometry || !offset || geometry->width == 0 || geometry->height == 0)
        return std::nullopt;
    // Only the true-colour depths Qt draws in, 32 bits to the pixel.
    if (geometry->depth != 24 && geometry->depth != 32)
        return std::nullopt;

    xcb_generic_error_t *error = nullptr;
    const XReply<xcb_get_image_reply_t> reply(
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, outer, 0, 0,
                                          geometry->width, geometry->height, ~0u),
                            &error),
        &std::free);
    std::free(error);
    const int width = geometry->width;
    const int height = geometry->height;
    if (!reply || xcb_get_image_data_length(reply.get()) < width * height * 4)
        return std::nullopt;
    // The frame's see-through corners count as opaque: what matters is colour.
    const QImage image(xcb_get_image_data(reply.get()), width, height, width * 4,
                       QImage::Format_RGB32);
    Contents result{image.copy(), QRect()};
    const QSize clientSize = (QSizeF(window->size()) * window->devicePixelRatioF()).toSize();
    result.client = QRect(QPoint(offset->dst_x, offset->dst_y), clientSize);
    return result;
}

QRect outerEdge(QWidget *window)
{
    if (QGuiApplication::platformName() != u"xcb" || !window->isVisible())
        return window->frameGeometry();
    return onScreen(window).value_or(window->frameGeometry());
}

} // namespace WindowFrame
