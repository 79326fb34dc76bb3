#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace Pictures {

// A picture compiled into the program, by its name under assets/ (e.g.
// "signs/leo.png"; "splash.ppm" for the splash, compiled in as plain
// pixels). On a screen that scales by more than 1 it takes the
// twice-as-large "@2x" drawing where there is one, so nothing is blurred.
QPixmap load(const QString &name, qreal devicePixelRatio = 0);

// The program's icon, in the sizes drawn for it.
QIcon programIcon();

} // namespace Pictures
