#include "Capture.h"

#include "platform/WindowFrame.h"

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

namespace {

// However the screen lags, the picture is taken after this long, as the
// screen shows the window then.
constexpr int SettleLimitMs = 3000;
constexpr int SettlePollMs = 10;

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
    if (QGuiApplication::platformName() != u"xcb" || !window->isVisible() || window->isMinimized())
        return true;
    const QPointer<QWidget> alive(window);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < SettleLimitMs) {
        // A popup still open would be part of the picture; one just closed
        // needs the window to repaint what it covered, and a compositor to
        // show that.
        if (!QApplication::activePopupWidget() && WindowFrame::onScreen(window) &&
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

    const QRect frame = WindowFrame::outerEdge(window);
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
    const QSize size = WindowFrame::outerEdge(form).size();
    return CaptureWindow(form, false, 0, 0, size.width(), size.height());
}

QPixmap CaptureWindow(QWidget *window, bool client, int left, int top, int width, int height)
{
    if (!window || width <= 0 || height <= 0 || !waitUntilOnScreen(window))
        return {};
    const QPoint origin =
        client ? window->mapToGlobal(QPoint(0, 0)) : WindowFrame::outerEdge(window).topLeft();
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
