#include "Splash.h"

#include "core/RuntimeFiles.h"
#include "desktop/WindowOpacity.h"
#include "widgets/Pictures.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <cmath>

Splash::Splash(const QString &appDir, std::function<void()> openMainWindow, QWidget *parent)
    : QWidget(parent)
    , m_appDir(appDir)
    , m_openMainWindow(std::move(openMainWindow))
{
    setUp();
}

void Splash::setUp()
{
    // Before anything else: the skin the main window attaches is one of them.
    RuntimeFiles::writeAll(m_appDir);

    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Form3"));
    // Its corners are cut round, so a frame would only show as stray edges.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);
    // The picture is one column and three rows larger: the edges are cropped.
    setFixedSize(ClientWidth, ClientHeight);
    m_picture = Pictures::load(QStringLiteral("splash.ppm"));

    m_fade = WindowOpacity::method();
    if (m_fade.pixelAlpha) {
        // A compositor blends the window by its pixels' alpha: the fade and
        // the round corners are drawn, where a mask would only cut input.
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    applyShape();
    // Clear until the first tick, so it never flashes up at full strength.
    if (m_fade.windowOpacity)
        setWindowOpacity(0.0);

    fadeInTimer = new QTimer(this);
    fadeInTimer->setObjectName(QStringLiteral("Timer1"));
    fadeInTimer->setInterval(TickMs);
    connect(fadeInTimer, &QTimer::timeout, this, &Splash::fadeInTick);
    fadeOutTimer = new QTimer(this);
    fadeOutTimer->setObjectName(QStringLiteral("Timer2"));
    fadeOutTimer->setInterval(TickMs);
    connect(fadeOutTimer, &QTimer::timeout, this, &Splash::fadeOutTick);
    fadeInTimer->start();
}

QRegion Splash::shape(QSize size)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), size), CornerEllipse / 2.0, CornerEllipse / 2.0);
    return QRegion(path.toFillPolygon().toPolygon());
}

QImage Splash::roundedPicture() const
{
    const qreal ratio = m_picture.devicePixelRatio();
    QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.drawPixmap(0, 0, m_picture);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(rect()), CornerEllipse / 2.0, CornerEllipse / 2.0);
    return image;
}

void Splash::applyShape()
{
    setMask(shape(size()));
}

void Splash::applyOpacity(quint8 value)
{
    const double level = value / 255.0;
    // Where the compositor may honour either, each carries the square root:
    // one alone still fades all the way, both together multiply to the level.
    const double share = m_fade.windowOpacity && m_fade.pixelAlpha ? std::sqrt(level) : level;
    if (m_fade.windowOpacity)
        WindowOpacity::set(this, share);
    if (m_fade.pixelAlpha) {
        m_pixelAlpha = share;
        repaint();
    }
    emit opacityApplied(value);
}

void Splash::fadeInTick()
{
    applyOpacity(m_fadeIn);
    if (m_fadeIn == 255) {
        fadeInTimer->stop();
        return;
    }
    m_fadeIn += OpacityStep;
}

void Splash::fadeOutTick()
{
    applyOpacity(m_fadeOut);
    if (m_fadeOut != 0) {
        m_fadeOut -= OpacityStep;
        return;
    }
    fadeOutTimer->stop();
    // The main window opens first: with the splash gone and nothing else
    // open, the program would end.
    if (m_openMainWindow)
        m_openMainWindow();
    close();
}

void Splash::leave()
{
    // Once leaving, further clicks change nothing.
    if (m_leaving)
        return;
    m_leaving = true;
    fadeInTimer->stop();
    // From opaque, wherever the fade-in was cut short.
    m_fadeOut = 255;
    fadeOutTimer->start();
}

void Splash::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_fade.pixelAlpha) {
        painter.drawPixmap(0, 0, m_picture);
        return;
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    if (m_pixelAlpha == 0.0)
        return;
    // Made when first seen, not before the window shows.
    if (m_roundedPicture.isNull())
        m_roundedPicture = roundedPicture();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(m_pixelAlpha);
    painter.drawImage(0, 0, m_roundedPicture);
}

void Splash::mousePressEvent(QMouseEvent *event)
{
    leave();
    event->accept();
}

void Splash::keyPressEvent(QKeyEvent *event)
{
    // So that the splash can be passed without a mouse.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
    case Qt::Key_Escape:
        leave();
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void Splash::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        applyShape();
}

void Splash::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    applyShape();
}

void Splash::closeEvent(QCloseEvent *event)
{
    // Closed by the window system, the program ends here: no tick may still
    // open the main window while the splash waits to be deleted.
    fadeInTimer->stop();
    fadeOutTimer->stop();
    QWidget::closeEvent(event);
}
