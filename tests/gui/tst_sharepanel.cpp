#include "app/MainWindow.h"
#include "core/LocalDate.h"
#include "core/QueryFlow.h"
#include "desktop/Clipboard.h"
#include "finder/SignFinderDialog.h"
#include "share/PictureWindow.h"
#include "widgets/ClickLabel.h"
#include "widgets/Prompt.h"
#include "widgets/StatusBar.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using httpkit::Response;

// Sharing the fortune on show, and finding a sign from a birthday, through
// the main window as a person uses them.
class TestSharePanel : public QObject, private MainWindowFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void copyReportsTheFortuneOnShow_data();
    void copyReportsTheFortuneOnShow();
    void copyLabelColours();
    void shareMenuOpensUnderTheLabel();
    void captureShowsTheWindowPicture();
    void finderNoShowsNoDialog();
    void finderStartsTheQueryOfTheSign();

private:
    void query(const char *button);
    QList<Prompt::Request> m_prompts;
    Prompt::Answer m_answer = Prompt::Answer::Ok;
    std::function<Response(const httpkit::Request &)> m_page;
    QDateTime m_now{QDate(2013, 12, 27), QTime(10, 0)};
};

void TestSharePanel::init()
{
    m_prompts.clear();
    m_answer = Prompt::Answer::Ok;
    Prompt::setResponder([this](const Prompt::Request &request) {
        m_prompts << request;
        return m_answer;
    });
    Clipboard::setRefusingForTesting(false);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    m_page = [](const httpkit::Request &) {
        PageSpec spec;
        spec.overall = 3;
        spec.love = 4;
        spec.work = 2;
        spec.finance = 5;
        return Response::html(TestPages::page(spec).toUtf8());
    };
    QVERIFY(serve([this](const httpkit::Request &r) { return m_page(r); }));
    environment.clock = [this] { return m_now; };
    environment.completionDelay = std::chrono::milliseconds(0);
    QVERIFY(open());
}

void TestSharePanel::cleanup()
{
    close();
    Prompt::setResponder({});
    Clipboard::setRefusingForTesting(false);
}

void TestSharePanel::query(const char *button)
{
    QSignalSpy shown(flowOf(*form()), &QueryFlow::completed);
    control<QPushButton>(button)->click();
    QVERIFY(shown.wait(5000));
}

void TestSharePanel::copyReportsTheFortuneOnShow_data()
{
    QTest::addColumn<QStringList>("steps"); // before the copy
    QTest::addColumn<QString>("heading");   // the report's first line; empty: nothing copied
    QTest::addColumn<QString>("answer");    // the one prompt
    QTest::addColumn<Prompt::Icon>("icon");
    const QString today = QStringLiteral("天蝎座今日运势"),
                  tomorrow = QStringLiteral("天蝎座明日运势");
    const auto informs = Prompt::Icon::Information;
    QTest::newRow("nothing on show: refused")
        << QStringList() << QString() << QStringLiteral("请先选择您要查询的星座,再进行复制!")
        << informs;
    QTest::newRow("on show") << QStringList{"query"} << today << today + u"已复制!" << informs;
    // Another query resets every parse state; 天蝎座 stays on show.
    QTest::newRow("during another query")
        << QStringList{"query", "slow query"} << today << today + u"已复制!" << informs;
    QTest::newRow("after a day switch: its own day")
        << QStringList{"query", "switch"} << today << today + u"已复制!" << informs;
    QTest::newRow("of tomorrow") << QStringList{"switch", "query"} << tomorrow
                                 << tomorrow + u"已复制!" << informs;
    QTest::newRow("busy clipboard: says so")
        << QStringList{"query", "refuse"} << QString()
        << QStringLiteral("复制失败!剪贴板正被其他程序占用,请稍后再试!")
        << Prompt::Icon::Exclamation;
}

void TestSharePanel::copyReportsTheFortuneOnShow()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, heading);
    for (const QString &step : steps) {
        if (step == u"query") {
            query("Command8");
        } else if (step == u"switch") {
            control<QPushButton>("Command18")->click();
        } else if (step == u"refuse") {
            Clipboard::setRefusingForTesting(true);
        } else {
            m_page = [](const httpkit::Request &) {
                Response r = Response::html(TestPages::page().toUtf8());
                r.delayMs = 3000;
                return r;
            };
            control<QPushButton>("Command1")->click();
            QVERIFY(flowOf(*form())->isFetching());
        }
    }
    auto *label = control<ClickLabel>("Label13");
    label->setForeColor(Qt::red);
    control<QAction>("wz")->trigger();

    const QString report =
        QStringList{
            heading,
            u"[" + LocalDate::shortText(QDate(2013, 12, 27)) + u"]:",
            QStringLiteral("综合运势:3颗星"),
            QStringLiteral("爱情运势:4颗星"),
            QStringLiteral("工作状况:2颗星"),
            QStringLiteral("理财投资:5颗星"),
            QStringLiteral("健康指数:85%"),
            QStringLiteral("商谈指数:70%"),
            QStringLiteral("幸运颜色:红色"),
            QStringLiteral("幸运数字:7"),
            QStringLiteral("速配星座:天秤座"),
            QStringLiteral(" "),
            QStringLiteral("今天适合学习。"),
            QStringLiteral(" "),
            QStringLiteral("本信息由澄川知微阁提供!官方论坛:HTTP://127.0.0.1:%1/bbs/")
                .arg(server()->port()),
        }
            .join(QStringLiteral("\r\n"));
    QCOMPARE(QGuiApplication::clipboard()->text(),
             heading.isEmpty() ? QStringLiteral("before") : report);
    QCOMPARE(m_prompts.size(), 1);
    QTEST(m_prompts[0].text, "answer");
    QCOMPARE(m_prompts[0].title, QStringLiteral("Kw系列软件"));
    QTEST(m_prompts[0].icon, "icon");
    QCOMPARE(label->foreColor(), QColor(Qt::black));
}

void TestSharePanel::copyLabelColours()
{
    auto *label = control<ClickLabel>("Label13");
    emit label->hovered();
    QCOMPARE(label->foreColor(), QColor(Qt::red));
    emit label->pressed();
    QCOMPARE(label->foreColor(), QColor(Qt::blue));
    QMouseEvent move(QEvent::MouseMove, QPointF(180, 20), QPointF(180, 20), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(control("Frame5"), &move);
    QCOMPARE(label->foreColor(), QColor(Qt::black));
    QCOMPARE(control<ClickLabel>("Label15")->foreColor(), QColor(Qt::black));
}

void TestSharePanel::shareMenuOpensUnderTheLabel()
{
    auto *fxsd = control<QMenu>("fxsd");
    QTest::mouseClick(control("Label16"), Qt::LeftButton);
    QTRY_VERIFY(fxsd->isVisible());
    // (7520, 3000) twips: 400 twips left of the label, 60 below it.
    QCOMPARE(fxsd->pos(), form()->mapToGlobal(QPoint(501, 200)));
    // Closing the menu without a choice runs neither operation.
    fxsd->close();
    QVERIFY(m_prompts.isEmpty());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

void TestSharePanel::captureShowsTheWindowPicture()
{
    bool seen = false;
    QSize shownSize;
    whenModal<PictureWindow>(this, [&](PictureWindow *form4) {
        seen = true;
        shownSize = controlOf(form4, "Image1")->size();
        controlOf<QPushButton>(form4, "Command1")->click();
    });
    control<QAction>("jt")->trigger();
    QTRY_VERIFY(seen);
    QCOMPARE(shownSize, QSize(417, 281));
    const QImage picture = QGuiApplication::clipboard()->image();
    QVERIFY(!picture.isNull());
    // Offscreen no frame can be seen: the picture is the client area.
    QCOMPARE(picture.size(), form()->size());
}

void TestSharePanel::finderNoShowsNoDialog()
{
    m_answer = Prompt::Answer::No;
    control<QPushButton>("Command17")->click();
    QCOMPARE(m_prompts.size(), 1);
    QCOMPARE(m_prompts[0].text, QStringLiteral("本辅助可帮助您在不知道星座的情况下进行星座判断!"));
    QCOMPARE(m_prompts[0].buttons, Prompt::Buttons::YesNo);
    QVERIFY(form()->findChildren<SignFinderDialog *>().isEmpty());
    QVERIFY(server()->requests().isEmpty());
}

void TestSharePanel::finderStartsTheQueryOfTheSign()
{
    m_answer = Prompt::Answer::Yes;
    whenModal<SignFinderDialog>(this, [this](SignFinderDialog *finder) {
        pickRow(controlOf<QComboBox>(finder, "Combo1"), 6);  // 7
        pickRow(controlOf<QComboBox>(finder, "Combo2"), 22); // 23
        m_answer = Prompt::Answer::Ok;
        controlOf<QPushButton>(finder, "Command1")->click();
    });
    QSignalSpy shown(flowOf(*form()), &QueryFlow::completed);
    control<QPushButton>("Command17")->click();
    QCOMPARE(m_prompts.size(), 2);
    QCOMPARE(m_prompts[1].text, QStringLiteral("您的生日为:7月23日,的星座为狮子座!"));
    // The dialog is gone and 狮子座's query has started, as from its button.
    QVERIFY(form()->findChildren<SignFinderDialog *>().isEmpty());
    QCOMPARE(control<StatusBar>("S1")->panelText(2), QStringLiteral("狮子座今日运势获取中..."));
    QVERIFY(shown.wait(5000));
    QCOMPARE(control<QLabel>("Label11")->text(), QStringLiteral("狮子座"));
}

QTEST_MAIN(TestSharePanel)
#include "tst_sharepanel.moc"
