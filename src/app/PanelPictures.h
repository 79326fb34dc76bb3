#pragma once

#include <array>

class QLabel;
class QWidget;

// The pictures of the main window that come from the sign table and the
// star picture rather than from its form.
namespace PanelPictures {

// Four rows of five stars (综合, 爱情, 工作, 理财) in the fortune panel, each
// row from the left, the rightmost star of each hidden.
std::array<std::array<QLabel *, 5>, 4> addStarRows(QWidget *panel);

// The store of the twelve sign pictures, right of the window's visible
// client area, each named for its sign's picture (imy, ijn, ...); returned
// in the sign table's order.
std::array<QLabel *, 12> addPictureStore(QWidget *window);

} // namespace PanelPictures
