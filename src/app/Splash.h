#pragma once

#include "desktop/WindowOpacity.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <functional>

class QTimer;

// The start-up splash: the first window and the only one that opens by
// itself. It fades in; a click (or Enter, Space, Escape) fades it out, opens
// the main window and closes it. Closing it any other way ends the program
// without the main window.
class Splash : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ClientWidth = 599;
    static constexpr int ClientHeight = 392;
    // Width and height of the ellipses that round the corners.
    static constexpr int CornerEllipse = 50;
    static constexpr int TickMs = 50;
    static constexpr int OpacityStep = 15;

    // Writes the runtime files into appDir first of all. openMainWindow runs
    // once, on the fade-out's last tick, just before the splash closes.
    explicit Splash(const QString &appDir, std::function<void()> openMainWindow,
                    QWidget *parent = nullptr);

    // The window's shape: a rectangle with rounded corners.
    static QRegion shape(QSize size);

    QTimer *fadeInTimer = nullptr;  // "Timer1"
    QTimer *fadeOutTimer = nullptr; // "Timer2"

signals:
    // Each opacity the fades apply, 0 (clear) to 255 (opaque), in order.
    void opacityApplied(int value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void setUp();
    void leave();
    void fadeInTick();
    void fadeOutTick();
    void applyOpacity(quint8 value);
    void applyShape();
    QImage roundedPicture() const;

    QString m_appDir;
    std::function<void()> m_openMainWindow;
    QPixmap m_picture;
    // Where the fade is drawn in the pixels' alpha: the picture with its
    // corners cut round and smooth, and the strength it is drawn at.
    WindowOpacity::Method m_fade;
    QImage m_roundedPicture;
    qreal m_pixelAlpha = 0.0;
    // Byte-sized, as the layered-window alpha they feed: 0 to 255 in steps of 15.
    quint8 m_fadeIn = 0;
    quint8 m_fadeOut = 255;
    bool m_leaving = false;
};
