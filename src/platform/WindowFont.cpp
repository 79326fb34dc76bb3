#include "WindowFont.h"

#include <QWidget>

namespace WindowFont {

QFont standard(bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans SC")});
    // 9 points on a 96 dpi screen: a Chinese character is 12 pixels wide.
    font.setPixelSize(12);
    font.setBold(bold);
    return font;
}

void pin(QWidget *window)
{
    const QFont font = window->font();
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (!control->isWindow() && !control->testAttribute(Qt::WA_SetFont))
            control->setFont(font);
    }
}

} // namespace WindowFont
