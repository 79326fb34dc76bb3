#include "WindowOpacity.h"

#include <QGuiApplication>
#include <QWidget>

namespace WindowOpacity {

void set(QWidget *window, double level)
{
    window->setWindowOpacity(level);
    if (window->testAttribute(Qt::WA_WState_Created))
        QGuiApplication::sync();
}

} // namespace WindowOpacity
