#include "WindowFont.h"

#include <QFontInfo>
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
    // A style sheet measures its em lengths (the group boxes' margins and
    // title offsets in the skin) in the font its rule names, else in the
    // application's, which is the desktop's under a desktop theme. Naming the
    // window's font keeps frames and titles where the layout has them.
    QStringList families;
    for (const QString &family : font.families())
        families << u'"' + family + u'"';
    window->setStyleSheet(
        QStringLiteral("QGroupBox, QGroupBox::title { font-family: %1; font-size: %2px; }")
            .arg(families.join(u", "))
            .arg(QFontInfo(font).pixelSize()));
}

} // namespace WindowFont
