#include "ClickLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>

ClickLabel::ClickLabel(const QString &text, QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setText(text);
    setMouseTracking(true);
}

void ClickLabel::setForeColor(const QColor &color)
{
    m_foreColor = color;
    setStyleSheet(color.isValid() ? QStringLiteral("color: %1;").arg(color.name()) : QString());
}

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit pressed();
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void ClickLabel::mouseMoveEvent(QMouseEvent *event)
{
    emit hovered();
    QLabel::mouseMoveEvent(event);
}

void ClickLabel::enterEvent(QEnterEvent *event)
{
    emit hovered();
    QLabel::enterEvent(event);
}

void ClickLabel::keyPressEvent(QKeyEvent *event)
{
    // Reachable by keyboard when it takes focus: Enter and Space click it.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit clicked();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}
