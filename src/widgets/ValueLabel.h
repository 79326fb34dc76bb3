#pragma once

#include <QLabel>

// A one-line label for text that may be longer than its column, such as a
// value from a downloaded page. It keeps its whole text (text(), what screen
// readers and copies get), draws as much as fits, cut at a whole character
// with "…", and shows the whole text as its tool tip. Never as markup: not
// in the label, not in the tool tip.
class ValueLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ValueLabel(QWidget *parent = nullptr);

    // The text as a tool tip that Qt shows character for character, however
    // much it looks like markup.
    static QString plainToolTip(const QString &text);

    // Every label of text in the program, this kind and Qt's own, reads out
    // its whole text to screen readers, also where it has a name of its own.
    // Once is enough; every ValueLabel makes sure of it.
    static void installAccessibility();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};
