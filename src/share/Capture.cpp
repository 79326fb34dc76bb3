#include "Capture.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QWidget>

namespace {

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

// The window drawn by itself, for where the screen cannot be read: its own
// contents inside a plain frame and title bar of the real frame's size.
QImage drawWindow(QWidget *window, bool client)
{
    const QImage contents = window->grab().toImage();
    if (client)
        return contents;

    const QRect frame = window->frameGeometry();
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
    const QSize size = form->frameGeometry().size();
    return CaptureWindow(form, false, 0, 0, size.width(), size.height());
}

QPixmap CaptureWindow(QWidget *window, bool client, int left, int top, int width, int height)
{
    if (!window || width <= 0 || height <= 0)
        return {};
    const QPoint origin =
        client ? window->mapToGlobal(QPoint(0, 0)) : window->frameGeometry().topLeft();
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
