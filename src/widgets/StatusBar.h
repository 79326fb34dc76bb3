#pragma once

#include <QWidget>

#include <array>

class QLabel;
class QTimer;

// A status bar of four sunken panels, numbered 1 to 4 from the left: a
// heading, the status line, today's date and the credit line. The status line
// takes the width the fixed panels leave; the date panel keeps its date
// current across midnight.
class StatusBar : public QWidget
{
    Q_OBJECT
public:
    enum Panel : int { HeadingPanel = 1, StatusPanel, DatePanel, CreditPanel };
    static constexpr int PanelCount = 4;

    explicit StatusBar(QWidget *parent = nullptr);

    QString panelText(int panel) const;
    void setPanelText(int panel, const QString &text);
    QLabel *panel(int panel) const;

    // The date panel's text for today; refreshed at midnight.
    void refreshDate();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void scheduleDateRefresh();

    std::array<QLabel *, PanelCount> m_panels{};
    QTimer *m_midnight;
};
