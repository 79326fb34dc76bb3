#include "ValueLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

ValueLabel::ValueLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

QString ValueLabel::plainToolTip(const QString &text)
{
    // A tool tip is rich text whenever it looks like markup, and rich text
    // loads the images it names. Escaped inside <qt>, every character is
    // shown as itself, and a long text wraps instead of leaving the screen.
    return u"<qt>" + text.toHtmlEscaped() + u"</qt>";
}

bool ValueLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && !text().isEmpty()) {
        const auto *help = static_cast<QHelpEvent *>(event);
        QToolTip::showText(help->globalPos(), plainToolTip(text()), this, rect());
        return true;
    }
    return QLabel::event(event);
}

void ValueLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    // Indented as QLabel indents: half an x inside a frame unless told.
    int inset = indent();
    if (inset < 0 && frameWidth() > 0)
        inset = fontMetrics().horizontalAdvance(u'x') / 2;
    if (inset > 0) {
        if (alignment() & Qt::AlignLeft)
            area.setLeft(area.left() + inset);
        else if (alignment() & Qt::AlignRight)
            area.setRight(area.right() - inset);
    }
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area,
                          int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), shown, foregroundRole());
}
