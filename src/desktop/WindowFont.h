#pragma once

#include <QFont>

class QWidget;

// The one font of the program's fixed layouts: 宋体 where the desktop has it,
// else the CJK fonts Debian ships (WenQuanYi Micro Hei, Noto Sans CJK SC), at
// 12 pixels to a Chinese character (9 points at 96 dpi) whatever the screen's
// dpi, since the captions and places are measured in pixels.
namespace WindowFont {

QFont standard(bool bold = false);

// Gives every control of the window that has no font of its own the
// window's font. Fonts do not pass from a window to its controls while a
// style sheet (the skin) is on, and a desktop theme then hands each control
// the desktop's font, which the layout was never measured for. The same font
// is named for the window's group boxes in its style sheet, so that lengths
// in em follow it too.
void pin(QWidget *window);

} // namespace WindowFont
