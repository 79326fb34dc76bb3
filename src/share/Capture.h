#pragma once

#include <QPixmap>

class QImage;
class QWidget;

// A picture of the whole window, title bar and frame included, at its size
// on the screen.
QPixmap CaptureForm(QWidget *form);

// A rectangle of a top-level window: relative to its client area when
// `client` is true, else to the outer edge of its frame.
QPixmap CaptureWindow(QWidget *window, bool client, int left, int top, int width, int height);

// Turns a captured bitmap into the picture the rest of the program uses.
QPixmap CreateBitmapPicture(const QImage &bitmap);
