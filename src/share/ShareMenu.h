#pragma once

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QueryFlow;
class QWidget;

// The share menu of the main window and what its items do: copy the
// fortune on show as a text report, or capture the window as a picture.
class ShareMenu : public QObject
{
    Q_OBJECT
public:
    // window: whose picture is taken, and over which the menu and the
    // answers open. flow: whose fortune on show is copied.
    ShareMenu(QWidget *window, const QueryFlow *flow, std::function<QDate()> today,
              QString footerText);

    QAction *copyItem() const { return m_copyItem; }
    QAction *captureItem() const { return m_captureItem; }

    // Opens the menu by the label that asks for it, a control of a frame of
    // the window: left of it and below its top.
    void openBeside(const QWidget *label);
    // Puts the fortune on show on the clipboard as text and says so.
    void copyFortune();
    // Puts a picture of the window on the clipboard and shows it.
    void captureWindow();

private:
    QWidget *m_window;
    const QueryFlow *m_flow;
    std::function<QDate()> m_today;
    QString m_footerText;
    QMenu *m_menu;
    QAction *m_copyItem;
    QAction *m_separator;
    QAction *m_captureItem;
};
