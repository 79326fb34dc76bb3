#include "app/MainWindow.h"
#include "core/LocalDate.h"
#include "core/QueryFlow.h"
#include "widgets/StatusBar.h"

#include "ControlTable.h"
#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using httpkit::Response;

// The main window: every control where it belongs, with its first caption,
// its visibility and its font; and what the window adds to the query flow:
// the sign buttons and the day button forwarded to it, its status texts in
// the status line and its completion on the panel, with the real one-second
// completion delay.
class TestMainWindow : public QObject, private MainWindowFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void window();
    void controls_data();
    void controls();
    void starRowsStartWithFourStars();
    void hiddenControlsLieRightOfTheWindow();
    void boldLabels();
    void statusBar();
    void shareMenu();

    void signButtonShowsItsFortune();
    void dispatchIsTheButtonClick();
    void dayButtonSwitchesTheDay();
    void failedQueryKeepsThePanel();

private:
    QString status() { return control<StatusBar>("S1")->panelText(2); }

    bool m_failing = false;
};

void TestMainWindow::init()
{
    m_failing = false;
    QVERIFY(serve([this](const httpkit::Request &) {
        return m_failing ? Response::status404() : Response::html(TestPages::page().toUtf8());
    }));
    // The real one-second completion delay.
    QVERIFY(open());
}

void TestMainWindow::cleanup()
{
    close();
}

void TestMainWindow::window()
{
    ControlTable::checkFixedWindow(form(), "Form1", "澄川知微阁 V2", {747, 484}, true);
    QVERIFY(form()->windowFlags() & Qt::WindowCloseButtonHint);
}

void TestMainWindow::controls_data()
{
    using ControlTable::row;
    ControlTable::addColumns();
    row("Frame3", "Form1", {16, 16, 289, 129}, "");
    row("Frame1", "Form1", {16, 152, 289, 273}, "请选择您的星座");
    row("Command18", "Form1", {224, 152, 73, 17}, "明日运势");
    row("Frame2", "Form1", {312, 16, 417, 337}, "星座运势");
    row("Frame4", "Form1", {312, 352, 417, 73}, "");
    row("S1", "Form1", {0, 443, 747, 41}, "");
    row("Frame5", "Form1", {832, 48, 185, 25}, "");
    row("Picture2", "Form1", {768, 152, 145, 113}, "");
    row("Image21", "Frame3", {8, 16, 160, 95}, "");
    row("Label11", "Frame3", {184, 24, 0, 0}, "星座名称");
    row("Label12", "Frame3", {184, 88, 0, 0}, "星座日期");
    row("Command1", "Frame1", {16, 40, 73, 33}, "白羊座");
    row("Command2", "Frame1", {104, 40, 73, 33}, "金牛座");
    row("Command3", "Frame1", {192, 40, 73, 33}, "双子座");
    row("Command4", "Frame1", {16, 96, 73, 33}, "巨蟹座");
    row("Command5", "Frame1", {104, 96, 73, 33}, "狮子座");
    row("Command6", "Frame1", {192, 96, 73, 33}, "处女座");
    row("Command7", "Frame1", {16, 152, 73, 33}, "天秤座");
    row("Command8", "Frame1", {104, 152, 73, 33}, "天蝎座");
    row("Command9", "Frame1", {192, 152, 73, 33}, "射手座");
    row("Command10", "Frame1", {16, 208, 73, 33}, "摩羯座");
    row("Command11", "Frame1", {104, 208, 73, 33}, "水瓶座");
    row("Command12", "Frame1", {192, 208, 73, 33}, "双鱼座");
    row("Label1", "Frame2", {16, 40, 0, 0}, "综合运势：");
    row("Label2", "Frame2", {216, 40, 0, 0}, "爱情运势：");
    row("Label3", "Frame2", {16, 75, 0, 0}, "工作状况：");
    row("Label4", "Frame2", {216, 75, 0, 0}, "理财投资：");
    row("Label5", "Frame2", {16, 104, 0, 0}, "健康指数:100%");
    row("Label6", "Frame2", {216, 104, 0, 0}, "商谈指数:100%");
    row("Label7", "Frame2", {16, 136, 0, 0}, "幸运颜色:无");
    row("Label8", "Frame2", {216, 136, 0, 0}, "幸运数字:0");
    row("Label9", "Frame2", {16, 168, 0, 0}, "速配星座:不明");
    row("Label16", "Frame2", {216, 168, 0, 0}, "运势分享设定");
    row("Picture1", "Frame2", {16, 216, 385, 97}, "");
    row("Label10", "Picture1", {8, 8, 369, 81}, "");
    row("Label14", "Picture1", {0, 48, 377, 25}, "欢迎使用知微阁");
    row("Command17", "Frame4", {8, 16, 73, 41}, "星座判断");
    row("Command16", "Frame4", {88, 16, 73, 41}, "关闭音乐");
    row("Command13", "Frame4", {168, 16, 81, 41}, "Kw系列软件");
    row("Command14", "Frame4", {256, 16, 73, 41}, "云帆联盟");
    row("Command15", "Frame4", {336, 16, 73, 41}, "退出软件");
    row("Label13", "Frame5", {8, 8, 0, 0}, "复制当前运势");
    row("Label15", "Frame5", {104, 8, 0, 0}, "截图当前运势");
    row("Line1", "Frame5", {93, 8, 1, 17}, "");
    // The star rows: the love, work and finance rows count down from the left.
    row("Image1", "Frame2", {80, 37, 18, 18}, "");
    row("Image5", "Frame2", {176, 37, 18, 18}, "", false);
    row("Image10", "Frame2", {280, 37, 18, 18}, "");
    row("Image6", "Frame2", {376, 37, 18, 18}, "", false);
    row("Image15", "Frame2", {80, 72, 18, 18}, "");
    row("Image11", "Frame2", {176, 72, 18, 18}, "", false);
    row("Image20", "Frame2", {280, 72, 18, 18}, "");
    row("Image16", "Frame2", {376, 72, 18, 18}, "", false);
    row("Image18", "Frame2", {328, 72, 18, 18}, "");
}

void TestMainWindow::controls()
{
    ControlTable::check(form());
}

void TestMainWindow::starRowsStartWithFourStars()
{
    for (int i = 0; i < 20; ++i) {
        auto *star = control<QLabel>(qPrintable(QStringLiteral("Image%1").arg(StarImages[i])));
        QCOMPARE(star->isVisible(), i % 5 < 4);
        QCOMPARE(star->pixmap().size(), QSize(18, 18));
    }
}

void TestMainWindow::hiddenControlsLieRightOfTheWindow()
{
    for (const SignInfo &sign : SignTable::all()) {
        auto *picture = control<QLabel>(qPrintable(sign.picture.toString()));
        QVERIFY(picture);
        QCOMPARE(picture->parentWidget(), form());
        QVERIFY2(picture->x() >= 792 && picture->x() <= 936, qPrintable(picture->objectName()));
        QCOMPARE(picture->size(), QSize(160, 95));
        QCOMPARE(picture->pixmap().size(), QSize(160, 95));
    }
    // The picture on show starts as Gemini's.
    QCOMPARE(control<QLabel>("Image21")->pixmap().toImage(),
             control<QLabel>("isz")->pixmap().toImage());
    for (const char *hidden : {"Frame5", "Picture2"})
        QVERIFY(control(hidden)->x() >= form()->width());
}

void TestMainWindow::boldLabels()
{
    for (const char *name : {"Label11", "Label12", "Label14"})
        QVERIFY2(control(name)->font().bold(), name);
    for (const char *name : {"Label1", "Label5", "Label10"})
        QVERIFY(!control(name)->font().bold());
    // 12 pixels to a Chinese character.
    QCOMPARE(form()->font().pixelSize(), 12);
}

void TestMainWindow::statusBar()
{
    StatusBar *bar = control<StatusBar>("S1");
    QCOMPARE(bar->panelText(1), QStringLiteral("运行提示："));
    QCOMPARE(bar->panelText(2), QStringLiteral("程序检测更新中..."));
    QCOMPARE(bar->panelText(3), LocalDate::shortText(QDate::currentDate()));
    QVERIFY(!bar->panelText(4).isEmpty());
    for (int panel : {1, 3, 4})
        QCOMPARE(bar->panel(panel)->width(), 96);
    // Panel 2 takes the rest, and the panels run left to right without overlap.
    QVERIFY(bar->panel(2)->width() > 300);
    for (int panel = 1; panel < StatusBar::PanelCount; ++panel)
        QVERIFY(bar->panel(panel)->geometry().right() < bar->panel(panel + 1)->x());
    QVERIFY(bar->panel(4)->geometry().right() < bar->width());
}

void TestMainWindow::shareMenu()
{
    auto *fxsd = control<QMenu>("fxsd");
    QCOMPARE(fxsd->title(), QStringLiteral("fxsd"));
    const QList<QAction *> items = fxsd->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->objectName(), QStringLiteral("wz"));
    QCOMPARE(items[0]->text(), QStringLiteral("复制当前星座运势"));
    QCOMPARE(items[1]->objectName(), QStringLiteral("x1"));
    QVERIFY(items[1]->isSeparator());
    QCOMPARE(items[2]->objectName(), QStringLiteral("jt"));
    QCOMPARE(items[2]->text(), QStringLiteral("截图当前星座运势"));
}

void TestMainWindow::signButtonShowsItsFortune()
{
    QSignalSpy completed(flowOf(*form()), &QueryFlow::completed);
    control<QPushButton>("Command2")->click();
    QCOMPARE(status(), QStringLiteral("金牛座今日运势获取中..."));
    QVERIFY(completed.wait(5000));
    QCOMPARE(status(), QStringLiteral("金牛座今日运势获取完毕..."));
    QCOMPARE(control<QLabel>("Label11")->text(), QStringLiteral("金牛座"));
    QCOMPARE(control<QLabel>("Label12")->text(), QStringLiteral("04/20-05/20"));
    QCOMPARE(control<QLabel>("Image21")->pixmap().toImage(),
             control<QLabel>("ijn")->pixmap().toImage());
    QCOMPARE(control<QLabel>("Label7")->text(), QStringLiteral("幸运颜色:红色"));
    QCOMPARE(control<QLabel>("Label10")->text(), QStringLiteral("今天适合学习。"));
    // 3, 2, 4 and 5 stars, each row from the left.
    const int counts[] = {3, 2, 4, 5};
    for (int i = 0; i < 20; ++i) {
        auto *star = control<QLabel>(qPrintable(QStringLiteral("Image%1").arg(StarImages[i])));
        QCOMPARE(star->isVisible(), i % 5 < counts[i / 5]);
    }
    QVERIFY(control("Label14")->isHidden());
    QVERIFY(control("Label13")->isEnabled());
}

void TestMainWindow::dispatchIsTheButtonClick()
{
    QSignalSpy clicked(control<QPushButton>("Command12"), &QPushButton::clicked);
    form()->dispatch(*SignTable::byCode(u"sy"));
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(status(), QStringLiteral("双鱼座今日运势获取中..."));
    QCOMPARE(flowOf(*form())->isFetching(), true);
}

void TestMainWindow::dayButtonSwitchesTheDay()
{
    auto *dayButton = control<QPushButton>("Command18");
    dayButton->click();
    QCOMPARE(dayButton->text(), QStringLiteral("今日运势"));
    QCOMPARE(status(), QStringLiteral("已切换明日星座运势查询.."));
    // The fortune on show was asked for the other day: no copy of it.
    QVERIFY(!control("Label13")->isEnabled());
    control<QPushButton>("Command11")->click();
    QCOMPARE(status(), QStringLiteral("水瓶明日运势获取中..."));
    dayButton->click();
    QCOMPARE(dayButton->text(), QStringLiteral("明日运势"));
    QCOMPARE(status(), QStringLiteral("已切换今日星座运势查询.."));
}

void TestMainWindow::failedQueryKeepsThePanel()
{
    QSignalSpy completed(flowOf(*form()), &QueryFlow::completed);
    control<QPushButton>("Command6")->click();
    QVERIFY(completed.wait(5000));
    const PanelSnapshot before = PanelSnapshot::of(*form());

    m_failing = true;
    QSignalSpy failed(flowOf(*form()), &QueryFlow::failed);
    control<QPushButton>("Command7")->click();
    // Every button stays usable while the page loads.
    for (QPushButton *button : form()->findChildren<QPushButton *>())
        QVERIFY(button->isEnabled());
    QVERIFY(failed.wait(5000));
    QCOMPARE(status(), QStringLiteral("天秤座今日运势获取失败..."));
    QCOMPARE(PanelSnapshot::of(*form()), before);

    // And the next click works.
    m_failing = false;
    control<QPushButton>("Command1")->click();
    QVERIFY(completed.wait(5000));
    QCOMPARE(control<QLabel>("Label11")->text(), QStringLiteral("白羊座"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
