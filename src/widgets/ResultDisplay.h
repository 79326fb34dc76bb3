#pragma once

#include "core/PageParser.h"
#include "core/SignTable.h"

#include <QObject>

#include <array>

class QLabel;
class QWidget;
struct FortuneReport;

// The fortune panel as completions fill it: the star rows, the values and
// the description, the sign's name, dates and picture.
class ResultDisplay : public QObject
{
    Q_OBJECT
public:
    // The panel's controls, laid out by the window.
    struct Controls
    {
        // Overall, love, work, finance; each row left to right.
        std::array<std::array<QLabel *, 5>, 4> starRows{};
        std::array<QLabel *, 4> rowCaptions{}; // 综合运势： ...
        std::array<QLabel *, 5> values{};      // 健康指数 ... 速配星座
        QLabel *description = nullptr;
        QLabel *name = nullptr;
        QLabel *dates = nullptr;
        QLabel *picture = nullptr;
        QLabel *welcome = nullptr;
        std::array<QLabel *, SignTable::SignCount> signPictures{}; // in table order
    };

    explicit ResultDisplay(const Controls &controls, QObject *parent = nullptr);

    // A completion: hides the welcome line.
    void ticked();
    // The sign's fortune, name, dates and picture.
    void show(const SignInfo &sign, const FortuneReport &fortune);

private:
    void showStars(PageParser::Aspect aspect, int count);
    // What a screen reader says of a star row: "综合运势 3 颗星".
    void describeStars(PageParser::Aspect aspect, int count);

    Controls m_controls;
};
