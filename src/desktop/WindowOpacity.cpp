#include "WindowOpacity.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QWidget>

#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace WindowOpacity {

void set(QWidget *window, double level)
{
    window->setWindowOpacity(level);
    if (window->testAttribute(Qt::WA_WState_Created))
        QGuiApplication::sync();
}

bool x11Composited()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    // A compositing manager owns the selection _NET_WM_CM_S<screen>; Qt puts
    // all its windows on the display's first screen.
    const QByteArray name = "_NET_WM_CM_S0";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 1, uint16_t(name.size()), name.data()),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom),
                                      nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

Method method()
{
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(u"wayland"))
        return {false, true};
    if (platform == u"xcb" && x11Composited())
        return {true, true};
    return {};
}

} // namespace WindowOpacity
