#pragma once

#include <QColor>
#include <QLabel>

// A label that acts like a link: it reports clicks, presses and the mouse
// passing over it. Its text is always plain text.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(QWidget *parent = nullptr);

    // The text colour, kept above whatever the skin says.
    QColor foreColor() const { return m_foreColor; }
    void setForeColor(const QColor &color);

signals:
    void clicked();
    void pressed();
    void hovered();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QColor m_foreColor;
};
