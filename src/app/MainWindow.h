#pragma once

#include "Endpoints.h"
#include "core/DayMode.h"
#include "core/SignInfo.h"
#include "core/UpdateCheck.h"
#include "net/PageFetcher.h"
#include "share/ShareMenu.h"
#include "widgets/ResultDisplay.h"

#include <QDateTime>
#include <QPushButton>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}
class BackgroundMusic;
class InternetTransfer;
class QGroupBox;
class QNetworkAccessManager;
class QTimer;
class QueryFlow;
class StatusBar;

// The main window: the sign buttons, the fortune panel, the tool buttons and
// the status bar, laid out in MainWindow.ui. It connects what its controls do: a
// query to the query flow, whose completions the result display shows; the
// share label to the share menu; the tool buttons to the finder, the music,
// the forums and the exit prompt. One second after it loads it checks the
// version.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    // What the window needs from outside; the program passes the built-in
    // values, tests their own servers and clocks.
    struct Environment
    {
        Endpoints endpoints;
        QString appDir; // the executable's folder
        std::function<QDateTime()> clock = qOverload<>(&QDateTime::currentDateTime); // local time
        QNetworkAccessManager *network = nullptr; // made by the window if null
        FetchLimits fetchLimits;
        std::chrono::milliseconds completionDelay{1000};
        // Ends the program at once, closing no window one by one.
        std::function<void()> endProgram;
    };

    explicit MainWindow(Environment environment, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Queries the sign exactly as a click on its button does; the sign
    // finder's answer comes this way.
    void dispatch(const SignInfo &sign);

protected:
    void showEvent(QShowEvent *event) override;
    // Every close passes the exit prompt.
    void closeEvent(QCloseEvent *event) override;

private:
    // The form's controls by what they are; the form's names after each.
    // The sign buttons are found by the sign table's names (signButton()).
    struct Controls
    {
        ResultDisplay::Controls panel;       // Label1..Label12, Label14, Image21, star rows
        ShareMenu::Labels share;             // Label13, Label15, Label16, Frame5
        QGroupBox *panelFrame = nullptr;     // Frame2, the fortune panel
        QPushButton *firstSign = nullptr;    // Command1, where the focus starts
        QPushButton *dayButton = nullptr;    // Command18, today or tomorrow
        QPushButton *finderButton = nullptr; // Command17, 星座判断
        QPushButton *musicButton = nullptr;  // Command16
        QPushButton *makerForum = nullptr;   // Command13
        QPushButton *partnerForum = nullptr; // Command14
        QPushButton *exitButton = nullptr;   // Command15
        StatusBar *statusBar = nullptr;      // S1
    };

    void gatherControls();
    // What the form cannot hold: pictures, fonts, clamp widths and the
    // pictures that come from the sign table.
    void completeLayout();
    void buildHelpers();
    void fitLabelsToCaptions();
    void connectControls();
    void startUp();

    void showStatus(const QString &text);
    void showDayMode(DayMode mode);
    void findSignByBirthday();
    void toggleMusic();
    void versionChecked(UpdateCheck::Verdict verdict, const QString &notice);
    bool askToExit();

    QPushButton *signButton(const SignInfo &sign) const
    {
        return findChild<QPushButton *>(sign.button.toString());
    }

    Environment m_env;
    std::unique_ptr<Ui::MainWindow> m_ui;
    Controls m_controls;
    QNetworkAccessManager *m_network = nullptr;
    PageFetcher *m_fetcher = nullptr;
    QueryFlow *m_flow = nullptr;
    ResultDisplay *m_display = nullptr;
    ShareMenu *m_share = nullptr;
    UpdateCheck *m_updateCheck = nullptr;
    QTimer *m_versionTimer = nullptr; // Timer3
    BackgroundMusic *m_music = nullptr;
    InternetTransfer *m_noticeDownload = nullptr; // Inet1
    bool m_placed = false;
};
