#pragma once

#include "app/Endpoints.h"
#include "app/UpdateCheck.h"
#include "fortune/DayMode.h"
#include "fortune/PageFetcher.h"

#include <QDateTime>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>

class ClickLabel;
class InternetTransfer;
class MediaPlayer;
class QGroupBox;
class QLabel;
class QNetworkAccessManager;
class QPushButton;
class QTimer;
class QueryFlow;
class ResultDisplay;
class ShareMenu;
class StatusBar;
struct SignInfo;

// The main window: the sign buttons, the fortune panel, the tool buttons and
// the status bar. It lays its controls out and forwards what they do: a
// query to the query flow, whose completions the result display shows; the
// share label to the share menu; the tool buttons to the finder, the music,
// the forums and the exit prompt. One second after it loads it checks the
// version.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    // What the window needs from outside; the program passes the built-in
    // values, tests their own servers and clocks.
    struct Environment
    {
        Endpoints endpoints;
        QString appDir;                                                 // the executable's folder
        std::function<QDateTime()> clock = &QDateTime::currentDateTime; // local time
        QNetworkAccessManager *network = nullptr; // made by the window if null
        FetchLimits fetchLimits;
        std::chrono::milliseconds completionDelay{1000};
        // Ends the program at once, closing no window one by one.
        std::function<void()> endProgram;
    };

    explicit Form1(Environment environment, QWidget *parent = nullptr);
    ~Form1() override;

    // The sign dispatchers: each runs its sign's button click, nothing more.
    void bydj();
    void jndj();
    void szdj();
    void jxdj();
    void zzdj();
    void cvdj();
    void tcdj();
    void txdj();
    void ssdj();
    void mjdj();
    void spdj();
    void sydj();
    // The same by table row.
    void dispatch(const SignInfo &sign);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Every close passes the exit prompt.
    void closeEvent(QCloseEvent *event) override;

private:
    // The layout.
    void buildWindow();
    void buildSignInfoBox();
    void buildSignButtons();
    void buildFortunePanel();
    void buildToolButtons();
    void buildHiddenControls();
    void setUpKeyboardAndScreenReaders();
    void fitLabelsToCaptions();
    QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y,
                      QLabel *label = nullptr);
    QLabel *makeImage(QWidget *parent, const QString &name, const QPixmap &picture, QRect place);
    QPushButton *makeButton(QWidget *parent, const QString &name, const QString &text, QRect place);
    QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &title, QRect place);
    void connectControls();
    void Form_Load();

    // The handlers, named as the controls they belong to, and what they do.
    void Command18_Click();
    void Command17_Click();
    void Command13_Click();
    void Command14_Click();
    void Command15_Click();
    void Command16_Click();
    void W1_PlayStateChange(int newState);
    void Timer3_Timer();
    void Label16_Click();
    void wz_Click();
    void jt_Click();
    void Label13_Click();
    void Label15_Click();

    void showDayMode(DayMode mode);
    void findSignByBirthday();
    void toggleMusic();
    void keepMusicLooping(int newState);
    void checkVersion();
    void versionChecked(UpdateCheck::Verdict verdict, const QString &notice);
    void openShareMenu();
    void copyFortune();
    bool askToExit();

    QString musicPath() const;
    QDate today() const;
    // The sign buttons and pictures in table order.
    std::array<QPushButton *, 12> signButtons() const;
    std::array<QLabel *, 12> signPictures() const;

    Environment m_env;
    QNetworkAccessManager *m_network = nullptr;
    PageFetcher *m_fetcher = nullptr;
    QueryFlow *m_flow = nullptr;
    ResultDisplay *m_display = nullptr;
    ShareMenu *m_share = nullptr;
    UpdateCheck *m_updateCheck = nullptr;
    bool m_placed = false;

    // Controls, named as the rest of the program and its tests know them.
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QGroupBox *Frame5 = nullptr;
    QPushButton *Command1 = nullptr, *Command2 = nullptr, *Command3 = nullptr, *Command4 = nullptr,
                *Command5 = nullptr, *Command6 = nullptr, *Command7 = nullptr, *Command8 = nullptr,
                *Command9 = nullptr, *Command10 = nullptr, *Command11 = nullptr,
                *Command12 = nullptr;
    QPushButton *Command13 = nullptr, *Command14 = nullptr, *Command15 = nullptr,
                *Command16 = nullptr, *Command17 = nullptr, *Command18 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr,
           *Label9 = nullptr, *Label10 = nullptr, *Label11 = nullptr, *Label12 = nullptr,
           *Label14 = nullptr;
    ClickLabel *Label13 = nullptr, *Label15 = nullptr, *Label16 = nullptr;
    QLabel *Image1 = nullptr, *Image2 = nullptr, *Image3 = nullptr, *Image4 = nullptr,
           *Image5 = nullptr, *Image6 = nullptr, *Image7 = nullptr, *Image8 = nullptr,
           *Image9 = nullptr, *Image10 = nullptr, *Image11 = nullptr, *Image12 = nullptr,
           *Image13 = nullptr, *Image14 = nullptr, *Image15 = nullptr, *Image16 = nullptr,
           *Image17 = nullptr, *Image18 = nullptr, *Image19 = nullptr, *Image20 = nullptr,
           *Image21 = nullptr;
    QLabel *imy = nullptr, *ijn = nullptr, *isz = nullptr, *ijx = nullptr, *izz = nullptr,
           *icv = nullptr, *itc = nullptr, *itx = nullptr, *iss = nullptr, *imj = nullptr,
           *isp = nullptr, *isy = nullptr;
    QWidget *Picture1 = nullptr;
    QWidget *Picture2 = nullptr;
    QWidget *Line1 = nullptr;
    StatusBar *S1 = nullptr;
    QTimer *Timer3 = nullptr;
    MediaPlayer *W1 = nullptr;
    InternetTransfer *Inet1 = nullptr;
    InternetTransfer *Inet2 = nullptr;
};
