#include "Form1.h"

#include "app/ShellTexts.h"
#include "finder/Form2.h"
#include "fortune/FortuneTexts.h"
#include "fortune/PageParser.h"
#include "fortune/QueryFlow.h"
#include "fortune/ResultDisplay.h"
#include "fortune/SignTable.h"
#include "platform/Browser.h"
#include "platform/ClickLabel.h"
#include "platform/InternetTransfer.h"
#include "platform/MediaPlayer.h"
#include "platform/Pictures.h"
#include "platform/Placement.h"
#include "platform/Prompt.h"
#include "platform/Skin.h"
#include "platform/StatusBar.h"
#include "platform/ValueLabel.h"
#include "platform/WindowFont.h"
#include "share/ReportText.h"
#include "share/ShareMenu.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSessionManager>
#include <QShortcut>
#include <QTimer>

namespace {

constexpr int UpdateCheckDelayMs = 1000;
constexpr double TwipsPerPixel = 15.0;

// Labels that show downloaded text may not grow past these right edges, so a
// long value cannot run over its neighbour in the next column.
constexpr int LeftColumnRightEdge = 208;
constexpr int PanelRightEdge = 409;

} // namespace

Form1::Form1(Environment environment, QWidget *parent)
    : QWidget(parent)
    , m_env(std::move(environment))
{
    if (!m_env.clock)
        m_env.clock = &QDateTime::currentDateTime;
    if (!m_env.endProgram)
        m_env.endProgram = [] { QCoreApplication::exit(0); };
    m_network = m_env.network ? m_env.network : new QNetworkAccessManager(this);
    m_fetcher = new PageFetcher(m_network, this);
    m_fetcher->setLimits(m_env.fetchLimits);
    m_flow = new QueryFlow(m_fetcher, m_env.endpoints.fortuneBase, m_env.clock, this);
    m_flow->setCompletionDelay(m_env.completionDelay);

    buildWindow();
    connectControls();
    Form_Load();
}

Form1::~Form1()
{
    m_flow->cancel();
}

// ---------------------------------------------------------------- the layout

void Form1::buildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ShellTexts::WindowCaption.toString());
    setWindowIcon(QIcon(QStringLiteral(":/zhiwei/icon/zhiweige.svg")));
    // A fixed single border: it can be minimised but neither sized nor maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(747, 484);
    // Centred on the screen, frame and all.
    Placement::centre(this);
    setFont(WindowFont::standard());

    Frame3 = makeFrame(this, QStringLiteral("Frame3"), QString(), {16, 16, 289, 129});
    Frame1 = makeFrame(this, QStringLiteral("Frame1"), QStringLiteral("请选择您的星座"),
                       {16, 152, 289, 273});
    Frame2 =
        makeFrame(this, QStringLiteral("Frame2"), QStringLiteral("星座运势"), {312, 16, 417, 337});
    Frame4 = makeFrame(this, QStringLiteral("Frame4"), QString(), {312, 352, 417, 73});

    buildSignInfoBox();
    buildSignButtons();
    // The day-mode button sits on the top edge of the sign frame, right of its title.
    Command18 =
        makeButton(this, QStringLiteral("Command18"),
                   FortuneTexts::dayButtonCaption(DayMode::Today).toString(), {224, 152, 73, 17});
    Command18->raise();
    buildFortunePanel();
    buildToolButtons();

    S1 = new StatusBar(this);
    S1->setObjectName(QStringLiteral("S1"));
    S1->setGeometry(0, 443, 747, 41);
    S1->setPanelText(1, ShellTexts::StatusHeading.toString());
    S1->setPanelText(2, ShellTexts::CheckingForUpdates.toString());
    S1->setPanelText(4, ShellTexts::CreditLine.toString());

    buildHiddenControls();
    WindowFont::pin(this);
    setUpKeyboardAndScreenReaders();
}

void Form1::buildSignInfoBox()
{
    Image21 = makeImage(Frame3, QStringLiteral("Image21"),
                        Pictures::load(QStringLiteral("signs/gemini.png")), {8, 16, 160, 95});
    Label11 = makeLabel(Frame3, QStringLiteral("Label11"), QStringLiteral("星座名称"), 184, 24);
    Label12 = makeLabel(Frame3, QStringLiteral("Label12"), QStringLiteral("星座日期"), 184, 88);
    for (QLabel *label : {Label11, Label12}) {
        label->setFont(WindowFont::standard(true));
        label->adjustSize();
    }
}

void Form1::buildSignButtons()
{
    constexpr int Columns[] = {16, 104, 192};
    constexpr int Rows[] = {40, 96, 152, 208};
    QPushButton **members[] = {&Command1, &Command2, &Command3, &Command4,  &Command5,  &Command6,
                               &Command7, &Command8, &Command9, &Command10, &Command11, &Command12};
    for (const SignInfo &sign : SignTable::all()) {
        const int slot = SignTable::position(sign);
        *members[slot] = makeButton(Frame1, sign.button.toString(), sign.name.toString(),
                                    {Columns[slot % 3], Rows[slot / 3], 73, 33});
    }
}

void Form1::buildFortunePanel()
{
    const QPixmap star = Pictures::load(QStringLiteral("star.png"));
    Label1 = makeLabel(Frame2, QStringLiteral("Label1"), QStringLiteral("综合运势："), 16, 40);
    Label2 = makeLabel(Frame2, QStringLiteral("Label2"), QStringLiteral("爱情运势："), 216, 40);
    Label3 = makeLabel(Frame2, QStringLiteral("Label3"), QStringLiteral("工作状况："), 16, 75);
    Label4 = makeLabel(Frame2, QStringLiteral("Label4"), QStringLiteral("理财投资："), 216, 75);

    // Four rows of five stars. In the love, work and finance rows the image
    // numbers fall from left to right; the first star is always the leftmost.
    struct Row
    {
        int firstImage;
        int step;
        int x;
        int y;
    };
    constexpr Row Rows[] = {{1, 1, 80, 37}, {10, -1, 280, 37}, {15, -1, 80, 72}, {20, -1, 280, 72}};
    QLabel **images[] = {&Image1,  &Image2,  &Image3,  &Image4,  &Image5,  &Image6,  &Image7,
                         &Image8,  &Image9,  &Image10, &Image11, &Image12, &Image13, &Image14,
                         &Image15, &Image16, &Image17, &Image18, &Image19, &Image20};
    for (const Row &row : Rows) {
        for (int i = 0; i < 5; ++i) {
            const int number = row.firstImage + i * row.step;
            QLabel *image = makeImage(Frame2, QStringLiteral("Image%1").arg(number), star,
                                      {row.x + 24 * i, row.y, 18, 18});
            // The rightmost star of each row starts hidden: four stars at start-up.
            image->setVisible(i < 4);
            *images[number - 1] = image;
        }
    }

    // The values come from the page: drawn cut to their column, whole in
    // their tool tips and to screen readers.
    const auto makeValueLabel = [this](const QString &name, const QString &text, int x, int y) {
        return makeLabel(Frame2, name, text, x, y, new ValueLabel(Frame2));
    };
    Label5 = makeValueLabel(QStringLiteral("Label5"), QStringLiteral("健康指数:100%"), 16, 104);
    Label6 = makeValueLabel(QStringLiteral("Label6"), QStringLiteral("商谈指数:100%"), 216, 104);
    Label7 = makeValueLabel(QStringLiteral("Label7"), QStringLiteral("幸运颜色:无"), 16, 136);
    Label8 = makeValueLabel(QStringLiteral("Label8"), QStringLiteral("幸运数字:0"), 216, 136);
    Label9 = makeValueLabel(QStringLiteral("Label9"), QStringLiteral("速配星座:不明"), 16, 168);
    for (QLabel *label : {Label5, Label7, Label9})
        label->setMaximumWidth(LeftColumnRightEdge - label->x());
    for (QLabel *label : {Label6, Label8})
        label->setMaximumWidth(PanelRightEdge - label->x());

    Label16 = new ClickLabel(QStringLiteral("运势分享设定"), Frame2);
    Label16->setObjectName(QStringLiteral("Label16"));
    Label16->move(216, 168);
    Label16->adjustSize();
    Label16->setCursor(QCursor(Pictures::load(QStringLiteral("hand.png"), 1.0), 5, 0));

    auto *picture1 = new QFrame(Frame2);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    picture1->setGeometry(16, 216, 385, 97);
    Picture1 = picture1;

    Label10 = new QLabel(Picture1);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setTextFormat(Qt::PlainText);
    Label10->setWordWrap(true);
    Label10->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label10->setGeometry(8, 8, 369, 81);

    Label14 = new QLabel(QStringLiteral("欢迎使用知微阁"), Picture1);
    Label14->setObjectName(QStringLiteral("Label14"));
    Label14->setTextFormat(Qt::PlainText);
    Label14->setFont(WindowFont::standard(true));
    Label14->setAlignment(Qt::AlignCenter);
    Label14->setGeometry(0, 48, 377, 25);
}

void Form1::buildToolButtons()
{
    Command17 = makeButton(Frame4, QStringLiteral("Command17"), QStringLiteral("星座判断"),
                           {8, 16, 73, 41});
    Command16 = makeButton(Frame4, QStringLiteral("Command16"),
                           ShellTexts::MusicOnCaption.toString(), {88, 16, 73, 41});
    Command13 = makeButton(Frame4, QStringLiteral("Command13"), QStringLiteral("Kw系列软件"),
                           {168, 16, 81, 41});
    Command14 = makeButton(Frame4, QStringLiteral("Command14"), QStringLiteral("云帆联盟"),
                           {256, 16, 73, 41});
    Command15 = makeButton(Frame4, QStringLiteral("Command15"), QStringLiteral("退出软件"),
                           {336, 16, 73, 41});
}

void Form1::buildHiddenControls()
{
    // Everything here lies right of the visible client area or is not a widget.
    Frame5 = makeFrame(this, QStringLiteral("Frame5"), QString(), {832, 48, 185, 25});
    Label13 = new ClickLabel(QStringLiteral("复制当前运势"), Frame5);
    Label13->setObjectName(QStringLiteral("Label13"));
    Label13->move(8, 8);
    Label13->adjustSize();
    Label15 = new ClickLabel(QStringLiteral("截图当前运势"), Frame5);
    Label15->setObjectName(QStringLiteral("Label15"));
    Label15->move(104, 8);
    Label15->adjustSize();
    for (ClickLabel *label : {Label13, Label15})
        label->setCursor(QCursor(Pictures::load(QStringLiteral("hand.png"), 1.0), 5, 0));
    auto *line = new QFrame(Frame5);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::VLine);
    line->setGeometry(93, 8, 1, 17);
    Line1 = line;

    auto *picture2 = new QFrame(this);
    picture2->setObjectName(QStringLiteral("Picture2"));
    picture2->setGeometry(768, 152, 145, 113);
    Picture2 = picture2;

    // The store of sign pictures, in the order they were laid out from x = 792 to 936.
    QLabel **pictures[] = {&isy, &isp, &imj, &iss, &itx, &itc, &icv, &izz, &ijx, &isz, &ijn, &imy};
    constexpr QStringView Order[] = {u"isy", u"isp", u"imj", u"iss", u"itx", u"itc",
                                     u"icv", u"izz", u"ijx", u"isz", u"ijn", u"imy"};
    for (int k = 0; k < 12; ++k) {
        const SignInfo *sign = nullptr;
        for (const SignInfo &row : SignTable::all()) {
            if (row.picture == Order[k])
                sign = &row;
        }
        const int x = 792 + (144 * k + 5) / 11;
        *pictures[k] = makeImage(this, Order[k].toString(),
                                 Pictures::load(u"signs/" + sign->slug.toString() + u".png"),
                                 {x, 16, 160, 95});
    }

    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(UpdateCheckDelayMs);

    W1 = new MediaPlayer(this);
    W1->setObjectName(QStringLiteral("W1"));
    Inet1 = new InternetTransfer(m_network, this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    // A second transfer control has always been there; nothing uses it.
    Inet2 = new InternetTransfer(m_network, this);
    Inet2->setObjectName(QStringLiteral("Inet2"));
}

void Form1::setUpKeyboardAndScreenReaders()
{
    for (const SignInfo &sign : SignTable::all()) {
        signButtons()[SignTable::position(sign)]->setAccessibleDescription(
            u"查看" + sign.name.toString() + u"的运势（" + sign.dateRange() + u"）");
    }
    Command18->setAccessibleDescription(QStringLiteral("在今日运势与明日运势之间切换"));
    Command17->setAccessibleDescription(QStringLiteral("按生日查找您的星座"));
    Command16->setAccessibleDescription(QStringLiteral("关闭或打开背景音乐"));
    Command13->setAccessibleDescription(QStringLiteral("打开Kw系列软件官方论坛"));
    Command14->setAccessibleDescription(QStringLiteral("打开云帆联盟论坛"));
    Command15->setAccessibleDescription(QStringLiteral("退出知微阁"));
    Label16->setAccessibleDescription(QStringLiteral("复制或截图当前运势"));
    Image21->setAccessibleName(QStringLiteral("星座图片"));
    Label10->setAccessibleName(QStringLiteral("运势描述"));
    const QStringView panelNames[] = {u"运行提示", u"状态", u"日期", u"作者"};
    for (int panel = 1; panel <= StatusBar::PanelCount; ++panel)
        S1->panel(panel)->setAccessibleName(panelNames[panel - 1].toString());

    // Enter presses a button as Space does; Tab walks the signs, the day,
    // the share label and the tool buttons in reading order.
    QWidget *order[] = {Command1,  Command2,  Command3,  Command4,  Command5,  Command6,  Command7,
                        Command8,  Command9,  Command10, Command11, Command12, Command18, Label16,
                        Command17, Command16, Command13, Command14, Command15};
    for (QWidget *widget : order) {
        if (auto *button = qobject_cast<QPushButton *>(widget))
            button->setAutoDefault(true);
    }
    Label16->setFocusPolicy(Qt::StrongFocus);
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    Command1->setFocus();
}

QLabel *Form1::makeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y,
                         QLabel *label)
{
    if (!label)
        label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLabel *Form1::makeImage(QWidget *parent, const QString &name, const QPixmap &picture, QRect place)
{
    auto *image = new QLabel(parent);
    image->setObjectName(name);
    image->setPixmap(picture);
    image->setScaledContents(true);
    image->setGeometry(place);
    return image;
}

QPushButton *Form1::makeButton(QWidget *parent, const QString &name, const QString &text,
                               QRect place)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(place);
    return button;
}

QGroupBox *Form1::makeFrame(QWidget *parent, const QString &name, const QString &title, QRect place)
{
    auto *frame = new QGroupBox(title, parent);
    frame->setObjectName(name);
    frame->setGeometry(place);
    return frame;
}

std::array<QPushButton *, 12> Form1::signButtons() const
{
    return {Command1, Command2, Command3, Command4,  Command5,  Command6,
            Command7, Command8, Command9, Command10, Command11, Command12};
}

std::array<QLabel *, 12> Form1::signPictures() const
{
    std::array<QLabel *, 12> pictures{};
    for (const SignInfo &sign : SignTable::all())
        pictures[SignTable::position(sign)] = findChild<QLabel *>(sign.picture.toString());
    return pictures;
}

void Form1::fitLabelsToCaptions()
{
    for (QLabel *label : findChildren<QLabel *>()) {
        // Labels size themselves to their captions, but for the description
        // and the welcome line, and the pictures.
        if (label != Label10 && label != Label14 && label->pixmap().isNull() &&
            qobject_cast<StatusBar *>(label->parentWidget()) == nullptr) {
            label->ensurePolished();
            label->adjustSize();
        }
    }
}

void Form1::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        m_placed = true;
        // The skin may have changed the look since the labels were sized.
        fitLabelsToCaptions();
    }
    QWidget::showEvent(event);
}

// ------------------------------------------------------ who does what

void Form1::connectControls()
{
    // The query flow and the panel it fills.
    ResultDisplay::Controls panel;
    panel.starRows = {{{Image1, Image2, Image3, Image4, Image5},
                       {Image10, Image9, Image8, Image7, Image6},
                       {Image15, Image14, Image13, Image12, Image11},
                       {Image20, Image19, Image18, Image17, Image16}}};
    panel.rowCaptions = {Label1, Label2, Label3, Label4};
    panel.values = {Label5, Label6, Label7, Label8, Label9};
    panel.description = Label10;
    panel.name = Label11;
    panel.dates = Label12;
    panel.picture = Image21;
    panel.welcome = Label14;
    panel.copyLabel = Label13;
    panel.signPictures = signPictures();
    m_display = new ResultDisplay(panel, this);
    connect(m_flow, &QueryFlow::ticked, m_display, &ResultDisplay::ticked);
    connect(m_flow, &QueryFlow::completed, m_display,
            [this](const SignInfo &sign, DayMode, const FortuneReport &fortune) {
                m_display->show(sign, fortune);
            });
    connect(m_flow, &QueryFlow::statusChanged, S1,
            [this](const QString &text) { S1->setPanelText(2, text); });
    connect(m_flow, &QueryFlow::modeChanged, this, &Form1::showDayMode);
    for (const SignInfo &sign : SignTable::all()) {
        connect(signButtons()[SignTable::position(sign)], &QPushButton::clicked, m_flow,
                [this, &sign] { m_flow->query(sign); });
    }
    connect(Command18, &QPushButton::clicked, this, &Form1::Command18_Click);

    // The share panel.
    m_share = new ShareMenu(
        this, m_flow, [this] { return today(); },
        ReportText::footerText(m_env.endpoints.makerForum));
    connect(Label16, &ClickLabel::clicked, this, &Form1::Label16_Click);
    // The menu key (or Shift+F10) opens the share menu from anywhere.
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &Form1::Label16_Click);
    connect(m_share->copyItem(), &QAction::triggered, this, &Form1::wz_Click);
    connect(m_share->captureItem(), &QAction::triggered, this, &Form1::jt_Click);
    connect(Label13, &ClickLabel::clicked, this, &Form1::Label13_Click);
    connect(Label15, &ClickLabel::clicked, this, &Form1::Label15_Click);
    // The copy label lights up red under the mouse, blue when pressed, and
    // goes black again when the mouse moves on over the strip.
    connect(Label13, &ClickLabel::hovered, this, [this] { Label13->setForeColor(Qt::red); });
    connect(Label13, &ClickLabel::pressed, this, [this] { Label13->setForeColor(Qt::blue); });
    Frame5->setMouseTracking(true);
    Frame5->installEventFilter(this);

    // The tool buttons, the music and the version check.
    connect(Command17, &QPushButton::clicked, this, &Form1::Command17_Click);
    connect(Command16, &QPushButton::clicked, this, &Form1::Command16_Click);
    connect(Command13, &QPushButton::clicked, this, &Form1::Command13_Click);
    connect(Command14, &QPushButton::clicked, this, &Form1::Command14_Click);
    connect(Command15, &QPushButton::clicked, this, &Form1::Command15_Click);
    connect(W1, &MediaPlayer::playStateChanged, this, &Form1::W1_PlayStateChange);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    m_updateCheck = new UpdateCheck(Inet1, this);
    // Its prompts wait for the person: not from inside the download's report.
    connect(m_updateCheck, &UpdateCheck::finished, this, &Form1::versionChecked,
            Qt::QueuedConnection);

    // A desktop that logs out or shuts down asks too, where it lets us.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (isVisible() && manager.allowsInteraction() && !askToExit())
            manager.cancel();
        manager.release();
    });
}

void Form1::Form_Load()
{
    // Every window of the program, this one and the dialogs to come, wears
    // the skin written beside the program at start-up.
    if (!m_env.appDir.isEmpty()) {
        SkinH_AttachEx(m_env.appDir + u"/skinh.she", QString());
        SkinH_AdjustHSV(-157, 0, 0);
    }
    if (!m_env.appDir.isEmpty())
        W1->setSource(musicPath());
    Timer3->start();
}

void Form1::Command18_Click()
{
    m_flow->switchMode();
}
void Form1::Command17_Click()
{
    findSignByBirthday();
}
void Form1::Command13_Click()
{
    Browser::open(m_env.endpoints.makerForum);
}
void Form1::Command14_Click()
{
    Browser::open(m_env.endpoints.partnerForum);
}
void Form1::Command15_Click()
{
    close();
}
void Form1::Command16_Click()
{
    toggleMusic();
}
void Form1::W1_PlayStateChange(int newState)
{
    keepMusicLooping(newState);
}
void Form1::Timer3_Timer()
{
    checkVersion();
}
void Form1::Label16_Click()
{
    openShareMenu();
}
void Form1::wz_Click()
{
    Label13_Click();
}
void Form1::jt_Click()
{
    Label15_Click();
}
void Form1::Label13_Click()
{
    copyFortune();
}
void Form1::Label15_Click()
{
    m_share->captureWindow();
}

// ------------------------------------------------------------------ behaviour

void Form1::showDayMode(DayMode mode)
{
    Command18->setText(FortuneTexts::dayButtonCaption(mode).toString());
    // The fortune on show was asked for the other day: no copy until the
    // next completion.
    Label13->setEnabled(false);
}

void Form1::findSignByBirthday()
{
    const Prompt::Answer answer =
        Prompt::show(this, {ShellTexts::FinderPrompt.toString(), Prompt::MessageTitle.toString(),
                            Prompt::Icon::Information, Prompt::Buttons::YesNo});
    if (answer != Prompt::Answer::Yes)
        return;
    const SignInfo *sign = nullptr;
    {
        Form2 finder(this);
        finder.exec();
        sign = finder.foundSign();
    } // the dialog is gone before the query starts
    if (sign)
        dispatch(*sign);
}

void Form1::toggleMusic()
{
    const QString caption = Command16->text();
    if (caption == ShellTexts::MusicOnCaption) {
        Command16->setText(ShellTexts::MusicOffCaption.toString());
        W1->setSource(QString());
    } else if (caption == ShellTexts::MusicOffCaption) {
        Command16->setText(ShellTexts::MusicOnCaption.toString());
        W1->setSource(musicPath());
    }
}

void Form1::keepMusicLooping(int newState)
{
    // Round and round while the music is on.
    if (newState == MediaPlayer::Stopped)
        W1->play();
}

QString Form1::musicPath() const
{
    return m_env.appDir + u"/bg.mp3";
}

void Form1::checkVersion()
{
    // Ticks while the notice is on its way are ignored by the check itself.
    m_updateCheck->start(m_env.endpoints.notice);
}

void Form1::versionChecked(UpdateCheck::Verdict verdict, const QString &notice)
{
    switch (verdict) {
    case UpdateCheck::Verdict::Current:
        // A query started meanwhile has the status line to itself.
        if (!m_flow->hasStarted())
            S1->setPanelText(2, ShellTexts::ChooseYourSign.toString());
        Timer3->stop();
        break;
    case UpdateCheck::Verdict::Unreadable:
        Timer3->stop();
        Prompt::show(this, {ShellTexts::NetworkFailed.toString(), Prompt::MessageTitle.toString(),
                            Prompt::Icon::Exclamation, Prompt::Buttons::Ok});
        m_env.endProgram();
        break;
    case UpdateCheck::Verdict::Newer:
        Timer3->stop();
        S1->setPanelText(2, ShellTexts::NewerVersionFound.toString());
        Prompt::show(this, {ShellTexts::NewerVersionBefore + UpdateCheck::shownNotice(notice) +
                                ShellTexts::NewerVersionAfter,
                            ShellTexts::NewerVersionTitle.toString(), Prompt::Icon::Information,
                            Prompt::Buttons::Ok});
        Browser::open(m_env.endpoints.makerForum);
        m_env.endProgram();
        break;
    }
}

void Form1::openShareMenu()
{
    // The menu's left edge 400 twips left of the label, its top 240 twips
    // below the label's top, computed in twips of the window as the label
    // lies in the fortune panel.
    const double x = Label16->x() * TwipsPerPixel + Frame2->x() * TwipsPerPixel - 400;
    const double y = Label16->y() * TwipsPerPixel + Frame2->y() * TwipsPerPixel + 240;
    m_share->open(QPoint(qRound(x / TwipsPerPixel), qRound(y / TwipsPerPixel)));
}

void Form1::copyFortune()
{
    m_share->copyFortune();
    Label13->setForeColor(Qt::black);
}

bool Form1::askToExit()
{
    const Prompt::Answer answer =
        Prompt::show(this, {ShellTexts::exitText(), Prompt::MessageTitle.toString(),
                            Prompt::Icon::Information, Prompt::Buttons::YesNoCancel});
    if (answer == Prompt::Answer::Yes)
        Browser::open(m_env.endpoints.makerForum);
    return answer == Prompt::Answer::Yes || answer == Prompt::Answer::No;
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (askToExit()) {
        m_flow->cancel();
        W1->setSource(QString());
        event->accept();
    } else {
        event->ignore();
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Frame5 && event->type() == QEvent::MouseMove) {
        Label13->setForeColor(Qt::black);
        Label15->setForeColor(Qt::black);
    }
    return QWidget::eventFilter(watched, event);
}

QDate Form1::today() const
{
    return m_env.clock().date();
}

// ------------------------------------------------------------------ queries

void Form1::bydj()
{
    dispatch(*SignTable::byDispatcher(u"bydj"));
}
void Form1::jndj()
{
    dispatch(*SignTable::byDispatcher(u"jndj"));
}
void Form1::szdj()
{
    dispatch(*SignTable::byDispatcher(u"szdj"));
}
void Form1::jxdj()
{
    dispatch(*SignTable::byDispatcher(u"jxdj"));
}
void Form1::zzdj()
{
    dispatch(*SignTable::byDispatcher(u"zzdj"));
}
void Form1::cvdj()
{
    dispatch(*SignTable::byDispatcher(u"cvdj"));
}
void Form1::tcdj()
{
    dispatch(*SignTable::byDispatcher(u"tcdj"));
}
void Form1::txdj()
{
    dispatch(*SignTable::byDispatcher(u"txdj"));
}
void Form1::ssdj()
{
    dispatch(*SignTable::byDispatcher(u"ssdj"));
}
void Form1::mjdj()
{
    dispatch(*SignTable::byDispatcher(u"mjdj"));
}
void Form1::spdj()
{
    dispatch(*SignTable::byDispatcher(u"spdj"));
}
void Form1::sydj()
{
    dispatch(*SignTable::byDispatcher(u"sydj"));
}

void Form1::dispatch(const SignInfo &sign)
{
    // Exactly what a click on the sign's button does.
    signButtons()[SignTable::position(sign)]->click();
}
