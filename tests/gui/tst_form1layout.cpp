#include "app/Form1.h"
#include "fortune/DateRules.h"
#include "platform/StatusBar.h"
#include "platform/TextBox.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The main window as laid out: every control where it belongs, with its
// first caption, its visibility and its font.
class TestForm1Layout : public QObject
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
    void downloadedTextIsNeverMarkup();
    void statusBar();
    void shareMenu();
    void timers();
    void loadStep();

private:
    Form1 *m_form = nullptr;
    QDateTime m_now{QDate(2013, 12, 27), QTime(9, 30)};
};

void TestForm1Layout::init()
{
    Form1::Environment environment;
    environment.endpoints = Endpoints::onLocalService(QUrl(QStringLiteral("http://127.0.0.1:9")));
    environment.clock = [this] { return m_now; };
    m_form = new Form1(environment);
    m_form->Timer3->stop(); // no version check in these tests
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
}

void TestForm1Layout::cleanup()
{
    delete m_form;
    m_form = nullptr;
}

void TestForm1Layout::window()
{
    QCOMPARE(m_form->objectName(), QStringLiteral("Form1"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("澄川知微阁 V2"));
    QCOMPARE(m_form->size(), QSize(747, 484));
    QCOMPARE(m_form->minimumSize(), QSize(747, 484));
    QCOMPARE(m_form->maximumSize(), QSize(747, 484));
    const Qt::WindowFlags flags = m_form->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
}

void TestForm1Layout::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("place"); // a width of 0 means: sized to its caption
    QTest::addColumn<QString>("text");

    auto row = [](const char *name, const char *container, QRect place, const char *text) {
        QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(container) << place
                            << QString::fromUtf8(text);
    };
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
    row("Image5", "Frame2", {176, 37, 18, 18}, "");
    row("Image10", "Frame2", {280, 37, 18, 18}, "");
    row("Image6", "Frame2", {376, 37, 18, 18}, "");
    row("Image15", "Frame2", {80, 72, 18, 18}, "");
    row("Image11", "Frame2", {176, 72, 18, 18}, "");
    row("Image20", "Frame2", {280, 72, 18, 18}, "");
    row("Image16", "Frame2", {376, 72, 18, 18}, "");
    row("Image18", "Frame2", {328, 72, 18, 18}, "");
}

void TestForm1Layout::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, place);
    QFETCH(QString, text);

    auto *control = m_form->findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(control->pos(), place.topLeft());
    if (place.width() > 0) {
        QCOMPARE(control->size(), place.size());
    } else {
        // Sized to its caption: the whole caption fits.
        QVERIFY(control->width() >= control->sizeHint().width());
        QVERIFY(control->height() >= control->sizeHint().height());
    }
    if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(control); label && label->pixmap().isNull())
        QCOMPARE(label->text(), text);
    else if (auto *frame = qobject_cast<QGroupBox *>(control))
        QCOMPARE(frame->title(), text);
}

void TestForm1Layout::starRowsStartWithFourStars()
{
    using PageParser::Aspect;
    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        const auto row = m_form->starRow(aspect);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(row[i]->isVisible(), i < 4);
            QVERIFY(!row[i]->pixmap().isNull());
            QCOMPARE(row[i]->pixmap().size(), QSize(18, 18));
        }
    }
    // The rightmost of each row starts hidden.
    for (const char *name : {"Image5", "Image6", "Image11", "Image16"})
        QVERIFY(!m_form->findChild<QLabel *>(name)->isVisible());
}

void TestForm1Layout::hiddenControlsLieRightOfTheWindow()
{
    for (QLabel *picture : m_form->signPictures()) {
        QVERIFY(picture);
        QCOMPARE(picture->parentWidget(), m_form);
        QVERIFY2(picture->x() >= 792 && picture->x() <= 936, qPrintable(picture->objectName()));
        QCOMPARE(picture->size(), QSize(160, 95));
        QCOMPARE(picture->pixmap().size(), QSize(160, 95));
    }
    // The picture on show starts as Gemini's.
    QCOMPARE(m_form->Image21->pixmap().toImage(), m_form->isz->pixmap().toImage());
    for (QWidget *hidden : {static_cast<QWidget *>(m_form->Frame5), m_form->Picture2})
        QVERIFY(hidden->x() >= m_form->width());
}

void TestForm1Layout::boldLabels()
{
    for (QLabel *label : {m_form->Label11, m_form->Label12, m_form->Label14})
        QVERIFY2(label->font().bold(), qPrintable(label->objectName()));
    for (QLabel *label : {m_form->Label1, m_form->Label5, m_form->Label10})
        QVERIFY(!label->font().bold());
    // 12 pixels to a Chinese character.
    QCOMPARE(m_form->font().pixelSize(), 12);
}

void TestForm1Layout::downloadedTextIsNeverMarkup()
{
    for (QLabel *label : {m_form->Label5, m_form->Label6, m_form->Label7, m_form->Label8,
                          m_form->Label9, m_form->Label10, m_form->Label11, m_form->Label12})
        QCOMPARE(label->textFormat(), Qt::PlainText);
    for (int panel = 1; panel <= StatusBar::PanelCount; ++panel)
        QCOMPARE(m_form->S1->panel(panel)->textFormat(), Qt::PlainText);
}

void TestForm1Layout::statusBar()
{
    StatusBar *bar = m_form->S1;
    QCOMPARE(bar->panelText(1), QStringLiteral("运行提示："));
    QCOMPARE(bar->panelText(2), QStringLiteral("程序检测更新中..."));
    QCOMPARE(bar->panelText(3), DateRules::shortDateText(QDate::currentDate()));
    QVERIFY(!bar->panelText(4).isEmpty());
    for (int panel : {1, 3, 4})
        QCOMPARE(bar->panel(panel)->width(), 96);
    // Panel 2 takes the rest, and the panels run left to right without overlap.
    QVERIFY(bar->panel(2)->width() > 300);
    for (int panel = 1; panel < StatusBar::PanelCount; ++panel)
        QVERIFY(bar->panel(panel)->geometry().right() < bar->panel(panel + 1)->x());
    QVERIFY(bar->panel(4)->geometry().right() < bar->width());
}

void TestForm1Layout::shareMenu()
{
    QCOMPARE(m_form->fxsd->objectName(), QStringLiteral("fxsd"));
    QCOMPARE(m_form->fxsd->title(), QStringLiteral("fxsd"));
    const QList<QAction *> items = m_form->fxsd->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->objectName(), QStringLiteral("wz"));
    QCOMPARE(items[0]->text(), QStringLiteral("复制当前星座运势"));
    QCOMPARE(items[1]->objectName(), QStringLiteral("x1"));
    QVERIFY(items[1]->isSeparator());
    QCOMPARE(items[2]->objectName(), QStringLiteral("jt"));
    QCOMPARE(items[2]->text(), QStringLiteral("截图当前星座运势"));
}

void TestForm1Layout::timers()
{
    for (QTimer *timer : {m_form->Timer1, m_form->Timer3, m_form->Timer4})
        QCOMPARE(timer->interval(), 1000);
    QVERIFY(!m_form->Timer1->isActive());
    QVERIFY(!m_form->Timer4->isActive());
    QCOMPARE(m_form->Text1->objectName(), QStringLiteral("Text1"));
}

void TestForm1Layout::loadStep()
{
    QCOMPARE(m_form->loadDate(), QDate(2013, 12, 27));
    QCOMPARE(m_form->modeText(), QStringLiteral("今日运势"));
    QCOMPARE(m_form->footerText(),
             QStringLiteral("本信息由澄川知微阁提供!官方论坛:HTTP://127.0.0.1:9/bbs/"));
    // The update check waits for its one-second tick.
    Form1 fresh(Form1::Environment{});
    QVERIFY(fresh.Timer3->isActive());
    fresh.Timer3->stop();
}

QTEST_MAIN(TestForm1Layout)
#include "tst_form1layout.moc"
