#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "PanelPictures.h"
#include "ShellTexts.h"
#include "core/FortuneTexts.h"
#include "core/QueryFlow.h"
#include "core/ReportText.h"
#include "core/SignTable.h"
#include "desktop/Browser.h"
#include "desktop/Placement.h"
#include "desktop/WindowFont.h"
#include "finder/SignFinderDialog.h"
#include "net/InternetTransfer.h"
#include "net/ServiceNetwork.h"
#include "share/ShareMenu.h"
#include "sound/BackgroundMusic.h"
#include "widgets/Pictures.h"
#include "widgets/Prompt.h"
#include "widgets/ResultDisplay.h"
#include "widgets/Skin.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QShortcut>
#include <QTimer>

namespace {

constexpr int UpdateCheckDelayMs = 1000;
// The shipped skin is drawn in warm reds; turned 157 degrees back round the
// colour circle it gives the program's sky-to-steel blue.
constexpr int SkinHueShift = -157;

// Labels that show downloaded text may not grow past these right edges, so a
// long value cannot run over its neighbour in the next column.
constexpr int LeftColumnRightEdge = 208;
constexpr int PanelRightEdge = 409;

} // namespace

MainWindow::MainWindow(Environment environment, QWidget *parent)
    : QWidget(parent)
    , m_env(std::move(environment))
    , m_ui(std::make_unique<Ui::MainWindow>())
{
    if (!m_env.clock)
        m_env.clock = qOverload<>(&QDateTime::currentDateTime);
    if (!m_env.endProgram)
        m_env.endProgram = [] { QCoreApplication::exit(0); };
    if (m_env.network) {
        m_network = m_env.network;
    } else {
        auto *network = new ServiceNetwork(m_env.endpoints.systemSocket, this);
        if (!m_env.endpoints.serviceProgram.isEmpty())
            network->setServiceStart(m_env.endpoints.serviceProgram,
                                     m_env.endpoints.serviceArguments);
        m_network = network;
    }
    m_fetcher = new PageFetcher(m_network, this);
    m_fetcher->setLimits(m_env.fetchLimits);
    m_flow = new QueryFlow(m_fetcher, m_env.endpoints.fortuneBase, m_env.clock, this);
    m_flow->setCompletionDelay(m_env.completionDelay);

    setFont(WindowFont::standard());
    m_ui->setupUi(this);
    gatherControls();
    completeLayout();
    connectControls();
    startUp();
}

MainWindow::~MainWindow()
{
    m_flow->cancel();
}

void MainWindow::gatherControls()
{
    ResultDisplay::Controls &panel = m_controls.panel;
    panel.rowCaptions = {m_ui->Label1, m_ui->Label2, m_ui->Label3, m_ui->Label4};
    panel.values = {m_ui->Label5, m_ui->Label6, m_ui->Label7, m_ui->Label8, m_ui->Label9};
    panel.description = m_ui->Label10;
    panel.name = m_ui->Label11;
    panel.dates = m_ui->Label12;
    panel.picture = m_ui->Image21;
    panel.welcome = m_ui->Label14;
    m_controls.share = {m_ui->Label13, m_ui->Label15, m_ui->Label16, m_ui->Frame5};
    m_controls.panelFrame = m_ui->Frame2;
    m_controls.firstSign = m_ui->Command1;
    m_controls.dayButton = m_ui->Command18;
    m_controls.finderButton = m_ui->Command17;
    m_controls.musicButton = m_ui->Command16;
    m_controls.makerForum = m_ui->Command13;
    m_controls.partnerForum = m_ui->Command14;
    m_controls.exitButton = m_ui->Command15;
    m_controls.statusBar = m_ui->S1;
}

void MainWindow::completeLayout()
{
    setWindowTitle(ShellTexts::WindowCaption.toString());
    setWindowIcon(Pictures::programIcon());
    // A fixed single border: it can be minimised but neither sized nor maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // Centred on the screen, frame and all.
    Placement::centre(this);

    ResultDisplay::Controls &panel = m_controls.panel;
    for (QLabel *label : {panel.name, panel.dates, panel.welcome})
        label->setFont(WindowFont::standard(true));
    panel.picture->setPixmap(Pictures::load(QStringLiteral("signs/gemini.png")));
    for (QLabel *label : {panel.values[0], panel.values[2], panel.values[4]})
        label->setMaximumWidth(LeftColumnRightEdge - label->x());
    for (QLabel *label : {panel.values[1], panel.values[3]})
        label->setMaximumWidth(PanelRightEdge - label->x());
    const QCursor hand(Pictures::load(QStringLiteral("hand.png"), 1.0), 5, 0);
    const ShareMenu::Labels &share = m_controls.share;
    for (ClickLabel *label : {share.copy, share.capture, share.menu})
        label->setCursor(hand);
    m_controls.musicButton->setText(ShellTexts::MusicOnCaption.toString());
    StatusBar *status = m_controls.statusBar;
    status->setPanelText(StatusBar::HeadingPanel, ShellTexts::StatusHeading.toString());
    status->setPanelText(StatusBar::StatusPanel, ShellTexts::CheckingForUpdates.toString());
    status->setPanelText(StatusBar::CreditPanel, ShellTexts::CreditLine.toString());

    panel.signPictures = PanelPictures::addPictureStore(this);
    buildHelpers();
    WindowFont::pin(this);
    fitLabelsToCaptions();
    for (const SignInfo &sign : SignTable::all()) {
        signButton(sign)->setAccessibleDescription(u"查看" + sign.name.toString() + u"的运势（" +
                                                   sign.dateRange() + u"）");
    }
    // Enter presses a button as Space does (autoDefault); the tab order is the form's.
    m_controls.firstSign->setFocus();
}

void MainWindow::buildHelpers()
{
    // Not widgets: named as the description knows them.
    m_versionTimer = new QTimer(this);
    m_versionTimer->setObjectName(QStringLiteral("Timer3"));
    m_versionTimer->setInterval(UpdateCheckDelayMs);
    m_music = new BackgroundMusic(m_env.appDir + u"/bg.mp3", this);
    m_noticeDownload = new InternetTransfer(m_network, this);
    m_noticeDownload->setObjectName(QStringLiteral("Inet1"));
    // A second transfer control has always been there; nothing uses it.
    (new InternetTransfer(m_network, this))->setObjectName(QStringLiteral("Inet2"));
}

void MainWindow::fitLabelsToCaptions()
{
    for (QLabel *label : findChildren<QLabel *>()) {
        // Labels size themselves to their captions, but for the description
        // and the welcome line, and the pictures.
        if (label != m_controls.panel.description && label != m_controls.panel.welcome &&
            label->pixmap().isNull() &&
            qobject_cast<StatusBar *>(label->parentWidget()) == nullptr) {
            label->ensurePolished();
            label->adjustSize();
        }
    }
}

void MainWindow::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        m_placed = true;
        // The skin may have changed the look since the labels were sized.
        fitLabelsToCaptions();
    }
    QWidget::showEvent(event);
}

void MainWindow::connectControls()
{
    // The query flow and the panel it fills.
    m_controls.panel.starRows = PanelPictures::addStarRows(m_controls.panelFrame);
    m_display = new ResultDisplay(m_controls.panel, this);
    connect(m_flow, &QueryFlow::ticked, m_display, &ResultDisplay::ticked);
    connect(m_flow, &QueryFlow::completed, m_display,
            [this](const SignInfo &sign, DayMode, const FortuneReport &fortune) {
                m_display->show(sign, fortune);
            });
    connect(m_flow, &QueryFlow::statusChanged, this, &MainWindow::showStatus);
    connect(m_flow, &QueryFlow::modeChanged, this, &MainWindow::showDayMode);
    for (const SignInfo &sign : SignTable::all()) {
        connect(signButton(sign), &QPushButton::clicked, m_flow,
                [this, &sign] { m_flow->query(sign); });
    }
    connect(m_controls.dayButton, &QPushButton::clicked, m_flow, &QueryFlow::switchMode);
    m_share = new ShareMenu(
        this, m_flow, [this] { return m_env.clock().date(); },
        ReportText::footerText(m_env.endpoints.makerForum), m_controls.share);

    // The tool buttons, the music and the version check.
    connect(m_controls.finderButton, &QPushButton::clicked, this, &MainWindow::findSignByBirthday);
    connect(m_controls.musicButton, &QPushButton::clicked, this, &MainWindow::toggleMusic);
    connect(m_controls.makerForum, &QPushButton::clicked, this,
            [this] { Browser::open(m_env.endpoints.makerForum); });
    connect(m_controls.partnerForum, &QPushButton::clicked, this,
            [this] { Browser::open(m_env.endpoints.partnerForum); });
    connect(m_controls.exitButton, &QPushButton::clicked, this, &QWidget::close);
    // Ticks while the notice is on its way are ignored by the check itself.
    connect(m_versionTimer, &QTimer::timeout, this,
            [this] { m_updateCheck->start(m_env.endpoints.notice); });
    m_updateCheck = new UpdateCheck(m_noticeDownload, this);
    // Its prompts wait for the person: not from inside the download's report.
    connect(m_updateCheck, &UpdateCheck::finished, this, &MainWindow::versionChecked,
            Qt::QueuedConnection);

    // A desktop that logs out or shuts down asks too, where it lets us.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (isVisible() && manager.allowsInteraction() && !askToExit())
            manager.cancel();
        manager.release();
    });
}

void MainWindow::startUp()
{
    // Every window of the program, this one and the dialogs to come, wears
    // the skin written beside the program at start-up.
    if (!m_env.appDir.isEmpty()) {
        Skin::attachFile(m_env.appDir + u"/skinh.she");
        Skin::adjustAttached(SkinHueShift, 0, 0);
        m_music->start();
    }
    m_versionTimer->start();
}

void MainWindow::showStatus(const QString &text)
{
    m_controls.statusBar->setPanelText(StatusBar::StatusPanel, text);
}

void MainWindow::showDayMode(DayMode mode)
{
    m_controls.dayButton->setText(FortuneTexts::dayButtonCaption(mode).toString());
}

void MainWindow::findSignByBirthday()
{
    const Prompt::Answer answer =
        Prompt::show(this, {ShellTexts::FinderPrompt.toString(), Prompt::MessageTitle.toString(),
                            Prompt::Icon::Information, Prompt::Buttons::YesNo});
    if (answer != Prompt::Answer::Yes)
        return;
    const SignInfo *sign = nullptr;
    {
        SignFinderDialog finder(this);
        finder.exec();
        sign = finder.foundSign();
    } // the dialog is gone before the query starts
    if (sign)
        dispatch(*sign);
}

void MainWindow::toggleMusic()
{
    m_music->toggle();
    m_controls.musicButton->setText(
        (m_music->isOn() ? ShellTexts::MusicOnCaption : ShellTexts::MusicOffCaption).toString());
}

void MainWindow::versionChecked(UpdateCheck::Verdict verdict, const QString &notice)
{
    m_versionTimer->stop();
    switch (verdict) {
    case UpdateCheck::Verdict::Current:
        // A query started meanwhile has the status line to itself.
        if (!m_flow->hasStarted())
            showStatus(ShellTexts::ChooseYourSign.toString());
        break;
    case UpdateCheck::Verdict::Unreadable:
        Prompt::show(this, {ShellTexts::NetworkFailed.toString(), Prompt::MessageTitle.toString(),
                            Prompt::Icon::Exclamation, Prompt::Buttons::Ok});
        m_env.endProgram();
        break;
    case UpdateCheck::Verdict::Newer:
        showStatus(ShellTexts::NewerVersionFound.toString());
        Prompt::show(this, {ShellTexts::NewerVersionBefore + UpdateCheck::shownNotice(notice) +
                                ShellTexts::NewerVersionAfter,
                            ShellTexts::NewerVersionTitle.toString(), Prompt::Icon::Information,
                            Prompt::Buttons::Ok});
        Browser::open(m_env.endpoints.makerForum);
        m_env.endProgram();
        break;
    }
}

bool MainWindow::askToExit()
{
    const Prompt::Answer answer =
        Prompt::show(this, {ShellTexts::exitText(), Prompt::MessageTitle.toString(),
                            Prompt::Icon::Information, Prompt::Buttons::YesNoCancel});
    if (answer == Prompt::Answer::Yes)
        Browser::open(m_env.endpoints.makerForum);
    return answer == Prompt::Answer::Yes || answer == Prompt::Answer::No;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (askToExit()) {
        m_flow->cancel();
        m_music->stop();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::dispatch(const SignInfo &sign)
{
    // Exactly what a click on the sign's button does.
    signButton(sign)->click();
}
