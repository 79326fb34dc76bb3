#include "StatusBar.h"

#include "ValueLabel.h"
#include "core/LocalDate.h"

#include <QDateTime>
#include <QLabel>
#include <QResizeEvent>
#include <QTimer>

namespace {
constexpr int InchPanelWidth = 96;
}

StatusBar::StatusBar(QWidget *parent)
    : QWidget(parent)
    , m_midnight(new QTimer(this))
{
    // Named for screen readers by what each panel is.
    const QStringView names[] = {u"运行提示", u"状态", u"日期", u"作者"};
    for (int i = 0; i < PanelCount; ++i) {
        auto *label = new ValueLabel(this);
        label->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        label->setAccessibleName(names[i].toString());
        label->setTextFormat(Qt::PlainText);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(4);
        m_panels[i] = label;
    }
    m_midnight->setSingleShot(true);
    connect(m_midnight, &QTimer::timeout, this, &StatusBar::refreshDate);
    refreshDate();
}

void StatusBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The heading, date and credit panels are an inch wide; the status line
    // takes the rest.
    constexpr int Margin = 2;
    constexpr int Gap = 2;
    const int height = this->height() - 2 * Margin;
    const int middle = std::max(0, width() - 2 * Margin - 3 * InchPanelWidth - 3 * Gap);
    int x = Margin;
    for (int i = 0; i < PanelCount; ++i) {
        const int panelWidth = i + 1 == StatusPanel ? middle : InchPanelWidth;
        m_panels[i]->setGeometry(x, Margin, panelWidth, height);
        x += panelWidth + Gap;
    }
}

QLabel *StatusBar::panel(int panel) const
{
    return panel >= 1 && panel <= PanelCount ? m_panels[panel - 1] : nullptr;
}

QString StatusBar::panelText(int panel) const
{
    const QLabel *label = this->panel(panel);
    return label ? label->text() : QString();
}

void StatusBar::setPanelText(int panel, const QString &text)
{
    if (QLabel *label = this->panel(panel)) {
        label->setText(text);
        // A panel is named for what it is ("状态"); screen readers read what
        // it says as its description.
        label->setAccessibleDescription(text);
    }
}

void StatusBar::refreshDate()
{
    setPanelText(DatePanel, LocalDate::shortText(QDate::currentDate()));
    scheduleDateRefresh();
}

void StatusBar::scheduleDateRefresh()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime nextMidnight(now.date().addDays(1), QTime(0, 0, 1));
    m_midnight->start(int(std::clamp<qint64>(now.msecsTo(nextMidnight), 1000, 24 * 3600 * 1000)));
}
