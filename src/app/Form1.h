#pragma once

#include "app/Endpoints.h"
#include "app/UpdateCheck.h"
#include "fortune/DayMode.h"
#include "fortune/FortuneReport.h"
#include "fortune/PageFetcher.h"
#include "fortune/PageParser.h"
#include "fortune/SignTable.h"
#include "share/ReportText.h"

#include <QDate>
#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class ClickLabel;
class InternetTransfer;
class MediaPlayer;
class QGroupBox;
class QLabel;
class QMenu;
class QAction;
class QNetworkAccessManager;
class QPushButton;
class QTimer;
class StatusBar;
class TextBox;

// The main window: the sign buttons, the fortune panel, the tool buttons and
// the status bar, and the query that fills the panel from a downloaded page.
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

    // Clears the parse state of all twelve signs; touches no control.
    void csh();

    QDate loadDate() const { return m_loadDate; }
    QString modeText() const { return m_modeText; }
    QString footerText() const { return m_footerText; }
    const FortuneReport &report(const SignInfo &sign) const;
    bool pendingFlag(const SignInfo &sign) const;
    // True while a page download is in flight.
    bool isFetching() const { return !m_fetch.isNull(); }

    // The fortune on show, as the last completion showed it; no sign before that.
    const SignInfo *signOnShow() const { return m_shown.sign; }

    // Where the share menu opens, in twips of the window (15 to the pixel),
    // computed from the share label's place as the window lays it out.
    QPointF shareMenuPointTwips() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Every close passes the exit prompt.
    void closeEvent(QCloseEvent *event) override;

signals:
    // For observers such as tests: a query's page was stored, shown, or failed.
    void pageStored(const SignInfo &sign);
    void fortuneShown(const SignInfo &sign);
    void queryFailed(const SignInfo &sign, const FetchResult &result);

private:
    void buildWindow();
    void buildSignInfoBox();
    void buildSignButtons();
    void buildFortunePanel();
    void buildToolButtons();
    void buildHiddenControls();
    void setUpKeyboardAndScreenReaders();
    void fitLabelsToCaptions();
    void Form_Load();

    // The query of one sign: the twelve button clicks in one routine.
    void signQuery(const SignInfo &sign);
    void pageArrived(const SignInfo &sign, DayMode mode, const FetchResult &result);
    void storePage(const SignInfo &sign, DayMode mode, const QString &page);
    void cancelRunningQuery();
    void Command18_Click();
    void Text1_Change();

    // Completion: Timer1 serves today queries, Timer4 tomorrow ones.
    void Timer1_Timer();
    void Timer4_Timer();
    void completionTick(QTimer *timer, DayMode mode);
    void showFortune(const SignInfo &sign, const FortuneReport &fortune);
    void showStars(PageParser::Aspect aspect, int count);
    // What a screen reader says of a star row: "综合运势 3 颗星".
    void describeStars(PageParser::Aspect aspect, int count);
    void showDetail(PageParser::Detail detail, const QString &value);

    void Command17_Click();

    // The shell: the version check, the forums, the exit and the music.
    void Timer3_Timer();
    void versionChecked(UpdateCheck::Verdict verdict, const QString &notice);
    void Command13_Click();
    void Command14_Click();
    void Command15_Click();
    void Command16_Click();
    void W1_PlayStateChange(int newState);
    bool askToExit();
    QString musicPath() const;

    // The share panel.
    void Label16_Click();
    void wz_Click();
    void jt_Click();
    void Label13_Click();
    void Label15_Click();

    QDate today() const;
    // Sets up `label`, or a new plain QLabel when it is null.
    QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y,
                      QLabel *label = nullptr);
    QLabel *makeImage(QWidget *parent, const QString &name, const QPixmap &picture, QRect place);
    QPushButton *makeButton(QWidget *parent, const QString &name, const QString &text, QRect place);
    QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &title, QRect place);

    Environment m_env;
    QNetworkAccessManager *m_network = nullptr;
    PageFetcher *m_fetcher = nullptr;

public:
    // Controls, named as the rest of the program and the tests know them.
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
    TextBox *Text1 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer3 = nullptr;
    QTimer *Timer4 = nullptr;
    MediaPlayer *W1 = nullptr;
    InternetTransfer *Inet1 = nullptr;
    InternetTransfer *Inet2 = nullptr;
    QMenu *fxsd = nullptr;
    QAction *wz = nullptr, *x1 = nullptr, *jt = nullptr;

    // The sign buttons and pictures in table order; the star rows left to right.
    std::array<QPushButton *, SignTable::SignCount> signButtons() const;
    std::array<QLabel *, SignTable::SignCount> signPictures() const;
    std::array<QLabel *, 5> starRow(PageParser::Aspect aspect) const;

private:
    UpdateCheck *m_updateCheck = nullptr;
    bool m_placed = false;
    bool m_queryStarted = false; // since the program began
    QDate m_loadDate;
    QString m_modeText;
    QString m_footerText;

    std::array<FortuneReport, SignTable::SignCount> m_reports{};
    std::array<bool, SignTable::SignCount> m_pending{};
    QPointer<FetchReply> m_fetch;
    // What the panel shows: its sign, the day it was asked for and the counts
    // as parsed. A copy reports this, whatever query runs meanwhile.
    struct Shown
    {
        const SignInfo *sign = nullptr;
        DayMode mode = DayMode::Today;
        FortuneReport fortune;
    } m_shown;
    DayMode m_storedMode = DayMode::Today; // the day of the page in Text1
};
