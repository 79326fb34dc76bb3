#include "WaylandDialogs.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QWindow>

#include <qpa/qplatformnativeinterface.h>

#include "gtk-shell-client-protocol.h"
#include <wayland-client.h>

#include <cstring>

namespace WaylandDialogs {
namespace {

class ModalMarker : public QObject
{
public:
    explicit ModalMarker(wl_display *display)
        : m_display(display)
        , m_queue(wl_display_create_queue(display))
    {
        // A queue of the program's own, so that nothing here runs inside
        // Qt's handling of its own events.
        auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), m_queue);
        m_registry = wl_display_get_registry(wrapper);
        wl_proxy_wrapper_destroy(wrapper);
        wl_registry_add_listener(m_registry, &RegistryListener, this);
        wl_display_roundtrip_queue(m_display, m_queue);
    }

    ~ModalMarker() override
    {
        for (gtk_surface1 *surface : std::as_const(m_marked))
            gtk_surface1_destroy(surface);
        if (m_shell)
            gtk_shell1_destroy(m_shell);
        wl_registry_destroy(m_registry);
        wl_event_queue_destroy(m_queue);
    }

    bool available() const { return m_shell != nullptr; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The first expose comes before the first picture: the moment mutter
        // places the window, and so the last moment to say it is a dialog.
        if (event->type() == QEvent::Expose && watched->isWindowType())
            mark(static_cast<QWindow *>(watched));
        return QObject::eventFilter(watched, event);
    }

private:
    void mark(QWindow *window)
    {
        if (!window->transientParent() || window->modality() == Qt::NonModal)
            return;
        QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
        auto *surface = static_cast<wl_surface *>(
            native ? native->nativeResourceForWindow("surface", window) : nullptr);
        if (!surface)
            return;
        // One gtk_surface1 a surface: asking twice is a protocol error.
        const auto known = m_surfaces.constFind(window);
        if (known != m_surfaces.constEnd() && known.value() == surface)
            return;
        forget(window);
        gtk_surface1 *marked = gtk_shell1_get_gtk_surface(m_shell, surface);
        gtk_surface1_add_listener(marked, &SurfaceListener, nullptr);
        gtk_surface1_set_modal(marked);
        wl_display_flush(m_display);
        if (!m_surfaces.contains(window))
            connect(window, &QObject::destroyed, this, [this, window] { forget(window); });
        m_surfaces.insert(window, surface);
        m_marked.insert(window, marked);
        // What mutter said back (its configure events) is of no use here.
        wl_display_dispatch_queue_pending(m_display, m_queue);
    }

    void forget(QWindow *window)
    {
        if (gtk_surface1 *marked = m_marked.take(window))
            gtk_surface1_destroy(marked);
        m_surfaces.remove(window);
    }

    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                       uint32_t)
    {
        auto *self = static_cast<ModalMarker *>(data);
        if (std::strcmp(interface, gtk_shell1_interface.name) == 0 && !self->m_shell) {
            self->m_shell = static_cast<gtk_shell1 *>(
                wl_registry_bind(registry, name, &gtk_shell1_interface, 1));
            gtk_shell1_add_listener(self->m_shell, &ShellListener, nullptr);
        }
    }
    static void globalRemove(void *, wl_registry *, uint32_t) {}
    static void capabilities(void *, gtk_shell1 *, uint32_t) {}
    static void configure(void *, gtk_surface1 *, wl_array *) {}

    static constexpr wl_registry_listener RegistryListener = {&global, &globalRemove};
    static constexpr gtk_shell1_listener ShellListener = {&capabilities};
    static constexpr gtk_surface1_listener SurfaceListener = {&configure};

    wl_display *m_display;
    wl_event_queue *m_queue;
    wl_registry *m_registry = nullptr;
    gtk_shell1 *m_shell = nullptr;
    QHash<QWindow *, wl_surface *> m_surfaces;
    QHash<QWindow *, gtk_surface1 *> m_marked;
};

} // namespace

void install(QGuiApplication *app)
{
    if (!QGuiApplication::platformName().startsWith(u"wayland"))
        return;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    auto *display = static_cast<wl_display *>(
        native ? native->nativeResourceForIntegration("wl_display") : nullptr);
    if (!display)
        return;
    auto *marker = new ModalMarker(display);
    if (!marker->available()) {
        delete marker;
        return;
    }
    app->installEventFilter(marker);
    // Gone before the application, whose end takes the display with it.
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, [app, marker] {
        app->removeEventFilter(marker);
        delete marker;
    });
}

} // namespace WaylandDialogs
