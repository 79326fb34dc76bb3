#pragma once

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>

class ClickLabel;
class QAction;
class QMenu;
class QueryFlow;
class QWidget;

// The share menu of the main window, the labels that share the same way,
// and what they do: copy the fortune on show as a text report, or capture
// the window as a picture.
class ShareMenu : public QObject
{
    Q_OBJECT
public:
    // The window's controls that share.
    struct Labels
    {
        ClickLabel *copy = nullptr;    // Label13: copies; only once a fortune is on show
        ClickLabel *capture = nullptr; // Label15: captures
        ClickLabel *menu = nullptr;    // Label16: opens the menu, in the fortune panel
        QWidget *strip = nullptr;      // Frame5, behind the copy and capture labels
    };

    // window: whose picture is taken, and over which the menu and the
    // answers open. flow: whose fortune on show is copied.
    ShareMenu(QWidget *window, const QueryFlow *flow, std::function<QDate()> today,
              QString footerText, Labels labels);

    QAction *copyItem() const { return m_copyItem; }
    QAction *captureItem() const { return m_captureItem; }

    // Opens the menu by its label, a control of a frame of the window: left
    // of it and below its top.
    void open();
    // Puts the fortune on show on the clipboard as text and says so.
    void copyFortune();
    // Puts a picture of the window on the clipboard and shows it.
    void captureWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Labels m_labels;
    const QueryFlow *m_flow;
    std::function<QDate()> m_today;
    QString m_footerText;
    QMenu *m_menu;
    QAction *m_copyItem;
    QAction *m_separator;
    QAction *m_captureItem;
};
