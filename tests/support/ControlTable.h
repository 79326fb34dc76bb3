#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// Where each control of a window sits, one row per control, checked by one
// data-driven slot:
//
//     void controls_data() { ControlTable::addColumns(); ControlTable::row(...); ... }
//     void controls() { ControlTable::check(m_window); }
//
// A row names the control, its parent, its place (a width of 0: sized to its
// caption, only the position is fixed) and its first caption (a button's
// text, a group box's title, a text label's text); a combo box is never
// editable.
namespace ControlTable {

void addColumns();
void row(const char *name, const char *container, QRect place, const char *text, bool shown = true);
// Checks the current row against the controls of window.
void check(const QWidget *window);

// A window of fixed size, as the form has it: its name, caption and size,
// never maximised, minimised only where `minimisable`.
void checkFixedWindow(const QWidget *window, const char *name, const char *title, QSize size,
                      bool minimisable);

} // namespace ControlTable
