#include "ValueLabel.h"

#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

// A label of text as a screen reader should meet it: its text readable in
// full through the text interface, even where the label carries a name of
// its own ("运势描述") that Qt would read out in place of the text.
class TextLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TextLabelAccessible(QLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return widget()->accessibleName().isEmpty() ? shown() : widget()->accessibleName();
        case QAccessible::Description:
            // A named label still tells its text to readers that only read
            // the name and the description.
            if (widget()->accessibleDescription().isEmpty() &&
                !widget()->accessibleName().isEmpty())
                return shown();
            return widget()->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    // The text interface: read-only, no caret, no selection.
    QString text(int startOffset, int endOffset) const override
    {
        return shown().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(shown().size()); }
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    QString shown() const { return static_cast<const QLabel *>(object())->text(); }
};

QAccessibleInterface *textLabelAccessible(const QString &className, QObject *object)
{
    // Picture labels keep Qt's own interface, an image.
    if ((className == QLatin1String("QLabel") || className == QLatin1String("ValueLabel")) &&
        object && object->isWidgetType()) {
        auto *label = static_cast<QLabel *>(object);
        if (label->pixmap().isNull())
            return new TextLabelAccessible(label);
    }
    return nullptr;
}

} // namespace

ValueLabel::ValueLabel(QWidget *parent)
    : QLabel(parent)
{
    installAccessibility();
    setTextFormat(Qt::PlainText);
}

void ValueLabel::installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(textLabelAccessible);
        return true;
    }();
    Q_UNUSED(installed);
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
