#include "Form1.h"

#include "app/ShellTexts.h"
#include "app/UpdateCheck.h"
#include "finder/Form2.h"
#include "fortune/DateRules.h"
#include "platform/Browser.h"
#include "platform/ClickLabel.h"
#include "platform/Clipboard.h"
#include "platform/InternetTransfer.h"
#include "platform/MediaPlayer.h"
#include "platform/Pictures.h"
#include "platform/Prompt.h"
#include "platform/Skin.h"
#include "platform/StatusBar.h"
#include "platform/TextBox.h"
#include "share/Capture.h"
#include "share/Form4.h"
#include "share/ReportText.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QTimer>

namespace {

// Captions and texts of the window.
constexpr QStringView WindowCaption = u"澄川知微阁 V2";
constexpr QStringView TomorrowCaption = u"明日运势"; // on Command18 while in today mode
constexpr QStringView TodayCaption = u"今日运势";    // on Command18 while in tomorrow mode
constexpr QStringView TodayModeText = u"今日运势";
constexpr QStringView TomorrowModeText = u"明日运势";
constexpr QStringView SwitchedToTomorrow = u"已切换明日星座运势查询..";
constexpr QStringView SwitchedToToday = u"已切换今日星座运势查询..";
constexpr QStringView CheckingForUpdates = u"程序检测更新中...";
constexpr QStringView CreditLine = u"阿澈原创作品";
constexpr QStringView MusicOnCaption = u"关闭音乐";  // music plays; a click stops it
constexpr QStringView MusicOffCaption = u"打开音乐"; // music stopped; a click starts it
constexpr QStringView FinderPrompt = u"本辅助可帮助您在不知道星座的情况下进行星座判断!";

constexpr int CompletionDelayMs = 1000;
constexpr int UpdateCheckDelayMs = 1000;

// Labels that show downloaded text may not grow past these right edges, so a
// long value cannot run over its neighbour in the next column.
constexpr int LeftColumnRightEdge = 208;
constexpr int PanelRightEdge = 409;

QFont windowFont(bool bold = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans SC")});
    // 9 points on a 96 dpi screen: a Chinese character is 12 pixels wide.
    font.setPixelSize(12);
    font.setBold(bold);
    return font;
}

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

    buildWindow();
    Form_Load();
}

Form1::~Form1()
{
    cancelRunningQuery();
}

// ---------------------------------------------------------------- the window

void Form1::buildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(WindowCaption.toString());
    setWindowIcon(QIcon(QStringLiteral(":/zhiwei/icon/zhiweige.svg")));
    // A fixed single border: it can be minimised but neither sized nor maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(747, 484);
    // Centred on the screen, placed before it is first shown so the window
    // manager frames it where it belongs.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setFont(windowFont());

    Frame3 = makeFrame(this, QStringLiteral("Frame3"), QString(), {16, 16, 289, 129});
    Frame1 = makeFrame(this, QStringLiteral("Frame1"), QStringLiteral("请选择您的星座"),
                       {16, 152, 289, 273});
    Frame2 =
        makeFrame(this, QStringLiteral("Frame2"), QStringLiteral("星座运势"), {312, 16, 417, 337});
    Frame4 = makeFrame(this, QStringLiteral("Frame4"), QString(), {312, 352, 417, 73});

    buildSignInfoBox();
    buildSignButtons();
    // The day-mode button sits on the top edge of the sign frame, right of its title.
    Command18 = makeButton(this, QStringLiteral("Command18"), TomorrowCaption.toString(),
                           {224, 152, 73, 17});
    Command18->raise();
    connect(Command18, &QPushButton::clicked, this, &Form1::Command18_Click);
    buildFortunePanel();
    buildToolButtons();

    S1 = new StatusBar(this);
    S1->setObjectName(QStringLiteral("S1"));
    S1->setGeometry(0, 443, 747, 41);
    S1->setPanelText(1, QStringLiteral("运行提示："));
    S1->setPanelText(2, CheckingForUpdates.toString());
    S1->setPanelText(4, CreditLine.toString());

    buildHiddenControls();
    setUpKeyboardAndScreenReaders();
}

void Form1::setUpKeyboardAndScreenReaders()
{
    for (const SignInfo &sign : SignTable::all()) {
        QPushButton *button = signButtons()[SignTable::position(sign)];
        button->setAccessibleDescription(u"查看" + sign.name.toString() + u"的运势（" +
                                         sign.dateRange.toString() + u"）");
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
    using PageParser::Aspect;
    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        for (QLabel *star : starRow(aspect))
            star->setAccessibleName(QStringLiteral("星"));
        describeStars(aspect, 4); // the four stars of the first look
    }

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
    // The menu key (or Shift+F10) opens the share menu from anywhere.
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &Form1::Label16_Click);
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    Command1->setFocus();
}

void Form1::describeStars(PageParser::Aspect aspect, int count)
{
    QLabel *const captions[] = {Label1, Label2, Label3, Label4};
    QLabel *caption = captions[int(aspect) - int(PageParser::Aspect::Overall)];
    QString name = caption->text();
    name.chop(1); // the full-width colon
    caption->setAccessibleName(name);
    caption->setAccessibleDescription(name + u" " + QString::number(count) + u" 颗星");
}

void Form1::buildSignInfoBox()
{
    Image21 = makeImage(Frame3, QStringLiteral("Image21"),
                        Pictures::load(QStringLiteral("signs/gemini.png")), {8, 16, 160, 95});
    Label11 = makeLabel(Frame3, QStringLiteral("Label11"), QStringLiteral("星座名称"), 184, 24);
    Label12 = makeLabel(Frame3, QStringLiteral("Label12"), QStringLiteral("星座日期"), 184, 88);
    for (QLabel *label : {Label11, Label12}) {
        label->setFont(windowFont(true));
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
        QPushButton *button = makeButton(Frame1, sign.button.toString(), sign.name.toString(),
                                         {Columns[slot % 3], Rows[slot / 3], 73, 33});
        *members[slot] = button;
        connect(button, &QPushButton::clicked, this, [this, &sign] { signQuery(sign); });
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

    Label5 = makeLabel(Frame2, QStringLiteral("Label5"), QStringLiteral("健康指数:100%"), 16, 104);
    Label6 = makeLabel(Frame2, QStringLiteral("Label6"), QStringLiteral("商谈指数:100%"), 216, 104);
    Label7 = makeLabel(Frame2, QStringLiteral("Label7"), QStringLiteral("幸运颜色:无"), 16, 136);
    Label8 = makeLabel(Frame2, QStringLiteral("Label8"), QStringLiteral("幸运数字:0"), 216, 136);
    Label9 = makeLabel(Frame2, QStringLiteral("Label9"), QStringLiteral("速配星座:不明"), 16, 168);
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
    Label14->setFont(windowFont(true));
    Label14->setAlignment(Qt::AlignCenter);
    Label14->setGeometry(0, 48, 377, 25);
}

void Form1::buildToolButtons()
{
    Command17 = makeButton(Frame4, QStringLiteral("Command17"), QStringLiteral("星座判断"),
                           {8, 16, 73, 41});
    Command16 = makeButton(Frame4, QStringLiteral("Command16"), QStringLiteral("关闭音乐"),
                           {88, 16, 73, 41});
    Command13 = makeButton(Frame4, QStringLiteral("Command13"), QStringLiteral("Kw系列软件"),
                           {168, 16, 81, 41});
    Command14 = makeButton(Frame4, QStringLiteral("Command14"), QStringLiteral("云帆联盟"),
                           {256, 16, 73, 41});
    Command15 = makeButton(Frame4, QStringLiteral("Command15"), QStringLiteral("退出软件"),
                           {336, 16, 73, 41});
    connect(Command17, &QPushButton::clicked, this, &Form1::Command17_Click);
    connect(Command16, &QPushButton::clicked, this, &Form1::Command16_Click);
    connect(Command13, &QPushButton::clicked, this, &Form1::Command13_Click);
    connect(Command14, &QPushButton::clicked, this, &Form1::Command14_Click);
    connect(Command15, &QPushButton::clicked, this, &Form1::Command15_Click);
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

    Text1 = new TextBox(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    connect(Text1, &TextBox::changed, this, &Form1::Text1_Change);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(CompletionDelayMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer4 = new QTimer(this);
    Timer4->setObjectName(QStringLiteral("Timer4"));
    Timer4->setInterval(CompletionDelayMs);
    connect(Timer4, &QTimer::timeout, this, &Form1::Timer4_Timer);
    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(UpdateCheckDelayMs);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);

    W1 = new MediaPlayer(this);
    W1->setObjectName(QStringLiteral("W1"));
    connect(W1, &MediaPlayer::PlayStateChange, this, &Form1::W1_PlayStateChange);
    Inet1 = new InternetTransfer(m_network, this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    // A second transfer control has always been there; nothing uses it.
    Inet2 = new InternetTransfer(m_network, this);
    Inet2->setObjectName(QStringLiteral("Inet2"));
    m_updateCheck = new UpdateCheck(Inet1, this);

    // A desktop that logs out or shuts down asks too, where it lets us.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (isVisible() && manager.allowsInteraction() && !askToExit())
            manager.cancel();
        manager.release();
    });

    fxsd = new QMenu(QStringLiteral("fxsd"), this);
    fxsd->setObjectName(QStringLiteral("fxsd"));
    wz = fxsd->addAction(QStringLiteral("复制当前星座运势"));
    wz->setObjectName(QStringLiteral("wz"));
    x1 = fxsd->addSeparator();
    x1->setObjectName(QStringLiteral("x1"));
    x1->setText(QStringLiteral("-"));
    jt = fxsd->addAction(QStringLiteral("截图当前星座运势"));
    jt->setObjectName(QStringLiteral("jt"));

    connect(Label16, &ClickLabel::clicked, this, &Form1::Label16_Click);
    connect(wz, &QAction::triggered, this, &Form1::wz_Click);
    connect(jt, &QAction::triggered, this, &Form1::jt_Click);
    connect(Label13, &ClickLabel::clicked, this, &Form1::Label13_Click);
    connect(Label15, &ClickLabel::clicked, this, &Form1::Label15_Click);
    // The copy label lights up red under the mouse, blue when pressed, and
    // goes black again when the mouse moves on over the strip.
    connect(Label13, &ClickLabel::hovered, this, [this] { Label13->setForeColor(Qt::red); });
    connect(Label13, &ClickLabel::pressed, this, [this] { Label13->setForeColor(Qt::blue); });
    Frame5->setMouseTracking(true);
    Frame5->installEventFilter(this);
}

void Form1::Form_Load()
{
    // Every window of the program, this one and the dialogs to come, wears
    // the skin written beside the program at start-up.
    if (!m_env.appDir.isEmpty()) {
        SkinH_AttachEx(m_env.appDir + u"/skinh.she", QString());
        SkinH_AdjustHSV(-157, 0, 0);
    }
    m_loadDate = today();
    m_modeText = TodayModeText.toString();
    m_footerText = ReportText::footerText(m_env.endpoints.makerForum);
    if (!m_env.appDir.isEmpty())
        W1->setURL(musicPath());
    Timer3->start();
}

QLabel *Form1::makeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y)
{
    auto *label = new QLabel(parent);
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

std::array<QPushButton *, SignTable::SignCount> Form1::signButtons() const
{
    return {Command1, Command2, Command3, Command4,  Command5,  Command6,
            Command7, Command8, Command9, Command10, Command11, Command12};
}

std::array<QLabel *, SignTable::SignCount> Form1::signPictures() const
{
    std::array<QLabel *, SignTable::SignCount> pictures{};
    for (const SignInfo &sign : SignTable::all())
        pictures[SignTable::position(sign)] = findChild<QLabel *>(sign.picture.toString());
    return pictures;
}

std::array<QLabel *, 5> Form1::starRow(PageParser::Aspect aspect) const
{
    switch (aspect) {
    case PageParser::Aspect::Overall:
        return {Image1, Image2, Image3, Image4, Image5};
    case PageParser::Aspect::Love:
        return {Image10, Image9, Image8, Image7, Image6};
    case PageParser::Aspect::Work:
        return {Image15, Image14, Image13, Image12, Image11};
    case PageParser::Aspect::Finance:
        return {Image20, Image19, Image18, Image17, Image16};
    }
    return {};
}

// ------------------------------------------------------------- share panel

QPointF Form1::shareMenuPointTwips() const
{
    constexpr double TwipsPerPixel = 15.0;
    const double frameLeft = Frame2->x() * TwipsPerPixel;
    const double labelLeft = Label16->x() * TwipsPerPixel;
    const double frameTop = Frame2->y() * TwipsPerPixel;
    const double labelTop = Label16->y() * TwipsPerPixel;
    return {labelLeft + frameLeft - 400, labelTop + frameTop + 240};
}

void Form1::Label16_Click()
{
    const QPointF twips = shareMenuPointTwips();
    const QPoint pixels(qRound(twips.x() / 15.0), qRound(twips.y() / 15.0));
    fxsd->popup(mapToGlobal(pixels));
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
    const QString title = Prompt::MessageTitle.toString();
    const SignInfo *sign = SignTable::byName(Label11->text());
    if (!sign || sign != m_shown.sign) {
        Prompt::inform(this, ReportText::noSignOnShowMessage(), title);
        Label13->setForeColor(Qt::black);
        return;
    }
    // The report tells the fortune on show as it was shown: the counts parsed
    // for it and the day it was asked for, even while another query runs or
    // after the day-mode button has been pressed.
    ReportText::ShownFortune shown;
    shown.signName = sign->name.toString();
    shown.modeText = (m_shown.mode == DayMode::Today ? TodayModeText : TomorrowModeText).toString();
    shown.overallStars = m_shown.fortune.overallStars;
    shown.loveStars = m_shown.fortune.loveStars;
    shown.workStars = m_shown.fortune.workStars;
    shown.financeStars = m_shown.fortune.financeStars;
    shown.captions = {Label5->text(), Label6->text(), Label7->text(),
                      Label8->text(), Label9->text(), Label10->text()};
    const QString report =
        ReportText::build(shown, DateRules::shortDateText(today()), m_footerText);
    if (Clipboard::setText(report)) {
        Prompt::inform(this, ReportText::copiedMessage(shown.signName, shown.modeText), title);
    } else {
        Prompt::show(this, {ReportText::clipboardRefusedMessage(), title, Prompt::Icon::Exclamation,
                            Prompt::Buttons::Ok});
    }
    Label13->setForeColor(Qt::black);
}

void Form1::Label15_Click()
{
    const QPixmap picture = CaptureForm(this);
    Form4 form4(this);
    form4.showPicture(picture);
    if (!Clipboard::setImage(picture.toImage()))
        form4.setMessage(ReportText::clipboardRefusedMessage());
    form4.exec();
}

void Form1::Command17_Click()
{
    const Prompt::Answer answer =
        Prompt::show(this, {FinderPrompt.toString(), Prompt::MessageTitle.toString(),
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

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Frame5 && event->type() == QEvent::MouseMove) {
        Label13->setForeColor(Qt::black);
        Label15->setForeColor(Qt::black);
    }
    return QWidget::eventFilter(watched, event);
}

// -------------------------------------------------------------------- shell

void Form1::Timer3_Timer()
{
    UpdateCheck::Actions actions;
    actions.dialogParent = this;
    actions.setStatus = [this](const QString &text) { S1->setPanelText(2, text); };
    actions.switchTimerOff = [this] { Timer3->stop(); };
    actions.endProgram = [this] {
        Timer3->stop();
        m_env.endProgram();
    };
    actions.makerForum = m_env.endpoints.makerForum;
    // Ticks while the notice is on its way are ignored by the check itself.
    m_updateCheck->run(m_env.endpoints.notice, std::move(actions));
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
        cancelRunningQuery();
        W1->setURL(QString());
        event->accept();
    } else {
        event->ignore();
    }
}

QString Form1::musicPath() const
{
    return m_env.appDir + u"/bg.mp3";
}

void Form1::Command16_Click()
{
    const QString caption = Command16->text();
    if (caption == MusicOnCaption) {
        Command16->setText(MusicOffCaption.toString());
        W1->setURL(QString());
    } else if (caption == MusicOffCaption) {
        Command16->setText(MusicOnCaption.toString());
        W1->setURL(musicPath());
    }
}

void Form1::W1_PlayStateChange(int newState)
{
    // Round and round while the music is on.
    if (newState == MediaPlayer::Stopped)
        W1->controls().play();
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

const FortuneReport &Form1::report(const SignInfo &sign) const
{
    return m_reports[SignTable::position(sign)];
}

bool Form1::pendingFlag(const SignInfo &sign) const
{
    return m_pending[SignTable::position(sign)];
}

QDate Form1::today() const
{
    return m_env.clock().date();
}

void Form1::csh()
{
    m_reports.fill(FortuneReport{});
}

void Form1::signQuery(const SignInfo &sign)
{
    DayMode mode;
    const QString caption = Command18->text();
    if (caption == TomorrowCaption)
        mode = DayMode::Today;
    else if (caption == TodayCaption)
        mode = DayMode::Tomorrow;
    else
        return;

    // The latest click wins: a query still under way is dropped and its page
    // is never shown, so the panel always shows one sign with its own page.
    cancelRunningQuery();
    csh();
    // The tomorrow of the moment of the click, not of the start: a window left
    // open past midnight still asks for the right day.
    const QUrl address = DateRules::pageAddress(m_env.endpoints.fortuneBase, sign, mode, today());
    S1->setPanelText(2, SignTable::fetchingText(sign, mode));

    FetchReply *reply = m_fetcher->GetBody(address);
    m_fetch = reply;
    connect(reply, &FetchReply::finished, this,
            [this, &sign, mode](const FetchResult &result) { pageArrived(sign, mode, result); });
}

void Form1::pageArrived(const SignInfo &sign, DayMode mode, const FetchResult &result)
{
    m_fetch = nullptr;
    // An error page, a refused connection or a page without a single section
    // is no fortune: the panel keeps what it shows and the status says so.
    if (!result.ok() || !PageParser::Sections(result.text).hasAnyHeading()) {
        S1->setPanelText(2, SignTable::failedText(sign, mode));
        emit queryFailed(sign, result);
        return;
    }
    storePage(sign, mode, result.text);
}

void Form1::storePage(const SignInfo &sign, DayMode mode, const QString &page)
{
    m_storedMode = mode;
    const bool unchanged = Text1->text() == page;
    Text1->setText(page);
    // The same page again raises no change, yet it must complete all the same.
    if (unchanged)
        Text1_Change();
    m_pending[SignTable::position(sign)] = true;
    emit pageStored(sign);
}

void Form1::cancelRunningQuery()
{
    if (m_fetch)
        m_fetch->abort();
    m_fetch = nullptr;
    m_pending.fill(false);
    if (Timer1)
        Timer1->stop();
    if (Timer4)
        Timer4->stop();
}

void Form1::Text1_Change()
{
    // The completion belongs to the day the stored page was asked for.
    if (m_storedMode == DayMode::Today) {
        Timer4->stop();
        Timer1->start();
    } else {
        Timer1->stop();
        Timer4->start();
    }
}

void Form1::Command18_Click()
{
    const QString caption = Command18->text();
    if (caption == TomorrowCaption) {
        Command18->setText(TodayCaption.toString());
        m_modeText = TomorrowModeText.toString();
        Label13->setEnabled(false);
        S1->setPanelText(2, SwitchedToTomorrow.toString());
    } else if (caption == TodayCaption) {
        Command18->setText(TomorrowCaption.toString());
        m_modeText = TodayModeText.toString();
        Label13->setEnabled(false);
        S1->setPanelText(2, SwitchedToToday.toString());
    }
}

// --------------------------------------------------------------- completion

void Form1::Timer1_Timer()
{
    completionTick(Timer1, DayMode::Today);
}
void Form1::Timer4_Timer()
{
    completionTick(Timer4, DayMode::Tomorrow);
}

void Form1::completionTick(QTimer *timer, DayMode mode)
{
    Label14->hide();
    Label13->setEnabled(true);
    for (const SignInfo *sign : SignTable::inCheckOrder()) {
        bool &pending = m_pending[SignTable::position(*sign)];
        if (!pending)
            continue;
        pending = false;
        FortuneReport &fortune = m_reports[SignTable::position(*sign)];
        fortune = PageParser::parse(Text1->text());
        showFortune(*sign, fortune);
        m_shown = {sign, mode, fortune};
        S1->setPanelText(2, SignTable::doneText(*sign, mode));
        timer->stop();
        emit fortuneShown(*sign);
        return;
    }
    timer->stop();
}

void Form1::showFortune(const SignInfo &sign, const FortuneReport &fortune)
{
    using PageParser::Aspect;
    using PageParser::Detail;
    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance})
        showStars(aspect, PageParser::starsOf(fortune, aspect));
    for (Detail detail :
         {Detail::Health, Detail::Negotiation, Detail::Colour, Detail::Number, Detail::Matching})
        showDetail(detail, PageParser::valueOf(fortune, detail));
    Label10->setText(fortune.description);

    Label11->setText(sign.name.toString());
    Label11->adjustSize();
    Label12->setText(sign.dateRange.toString());
    Label12->adjustSize();
    Image21->setPixmap(signPictures()[SignTable::position(sign)]->pixmap());
}

void Form1::showStars(PageParser::Aspect aspect, int count)
{
    // 1 to 5 stars show from the left; none, or more than a row holds, hide
    // the row rather than leave another sign's stars standing.
    const int shown = count <= 5 ? count : 0;
    const auto row = starRow(aspect);
    for (int i = 0; i < 5; ++i)
        row[i]->setVisible(i < shown);
    describeStars(aspect, count);
}

void Form1::showDetail(PageParser::Detail detail, const QString &value)
{
    QLabel *const labels[] = {Label5, Label6, Label7, Label8, Label9};
    QLabel *label = labels[int(detail) - int(PageParser::Detail::Health)];
    label->setText(PageParser::detailPrefix(detail) + value);
    label->setToolTip(label->text());
    label->adjustSize();
}
