#pragma once

#include <QPixmap>

class QWidget;

// A picture of the whole window, title bar and frame included, at its size
// on the screen, as the person sees it.
QPixmap pictureOfWindow(QWidget *window);
