#include "Capture.h"

#include "desktop/WindowFrame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <optional>

namespace {

// However the screen lags, the picture is taken within a second.
constexpr int SettleLimitMs = 1000;
constexpr int SettlePollMs = 10;

// A picture of the window, and where its client area lies in it (device
// pixels, the picture's own).
struct Shot
{
    QImage image;
    QRect client;
};

// The client area as the window draws itself now: the one picture that can
// always be had, and the measure every other one is checked against.
QImage ownDrawing(QWidget *window)
{
    return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

Shot ownShot(QWidget *window)
{
    QImage own = ownDrawing(window);
    return {own, own.rect()};
}

// True when the picture holds the window's own pixels, all of them, where
// its client area lies: nothing of a menu over it, nothing left unpainted,
// and not the black of a screen that cannot be read.
bool holdsWindow(const Shot &shot, const QImage &own)
{
    if (shot.client.size() != own.size() || !shot.image.rect().contains(shot.client))
        return false;
    return shot.image.copy(shot.client).convertToFormat(QImage::Format_RGB32) == own;
}

// One colour all over, leaving out `except`: what a screen or a frame
// that holds no pixels gives.
bool blank(const QImage &image, const QRect &except = {})
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    std::optional<QRgb> first;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if (except.contains(x, y))
                continue;
            if (!first)
                first = line[x];
            else if (line[x] != *first)
                return false;
        }
    }
    return true;
}

// The frame and the window as the screen shows them, read from the root
// window: with a compositor this is also what the compositor drew.
std::optional<Shot> fromScreen(QWidget *window, const QRect &frame)
{
    QScreen *screen = window->screen();
    if (!screen)
        return std::nullopt;
    const QRect onScreen = frame.translated(-screen->geometry().topLeft());
    const QImage image =
        screen->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height())
            .toImage();
    if (image.isNull())
        return std::nullopt;
    const qreal ratio = image.devicePixelRatio();
    const QPoint client = window->geometry().topLeft() - frame.topLeft();
    return Shot{image, QRect((QPointF(client) * ratio).toPoint(),
                             (QSizeF(window->size()) * ratio).toSize())};
}

// The frame and the window as the X server holds them: where the root is
// black (rootless XWayland), the frame window still has its pixels.
std::optional<Shot> fromFrameWindow(QWidget *window)
{
    std::optional<WindowFrame::Contents> read = WindowFrame::contents(window);
    if (!read)
        return std::nullopt;
    read->image.setDevicePixelRatio(window->devicePixelRatioF());
    // A frame the window manager leaves to its compositor to draw is empty
    // in the X server: that frame is not what the person sees, the client
    // area alone is.
    if (read->client != read->image.rect() && blank(read->image, read->client))
        return Shot{read->image.copy(read->client), QRect(QPoint(), read->client.size())};
    return Shot{read->image, read->client};
}

// The window as the person sees it, read from the window system where it can
// be read and the client area there is the window's own, else the window's
// own drawing. Meanwhile the event loop runs and the window stays live: a
// menu just closed over it needs it to repaint, and a compositor to show
// that. Null if the window went away.
std::optional<Shot> takeShot(QWidget *window)
{
    if (QGuiApplication::platformName() != u"xcb" || !window->isVisible() || window->isMinimized())
        return ownShot(window);
    const QPointer<QWidget> alive(window);
    bool screenReadable = true;
    bool serverReadable = true;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < SettleLimitMs) {
        // The size only counts once the window manager has framed the window.
        const std::optional<QRect> frame = WindowFrame::onScreen(window);
        if (!QApplication::activePopupWidget() && frame) {
            const QImage own = ownDrawing(window);
            if (screenReadable) {
                const std::optional<Shot> shot = fromScreen(window, *frame);
                if (shot && holdsWindow(*shot, own))
                    return shot;
                screenReadable = shot && !blank(shot->image);
            }
            if (serverReadable) {
                const std::optional<Shot> shot = fromFrameWindow(window);
                if (shot && holdsWindow(*shot, own))
                    return shot;
                serverReadable = shot && !blank(shot->image);
            }
            if (!screenReadable && !serverReadable)
                return ownShot(window);
        }
        QEventLoop loop;
        QTimer::singleShot(SettlePollMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (!alive)
            return std::nullopt;
    }
    return ownShot(window);
}

} // namespace

QPixmap pictureOfWindow(QWidget *window)
{
    if (!window)
        return {};
    const std::optional<Shot> shot = takeShot(window);
    if (!shot || shot->image.isNull())
        return {};
    // Every display Qt drives is true colour: no colour table to attach.
    return QPixmap::fromImage(shot->image);
}
