#include "app/MainWindow.h"
#include "core/QueryFlow.h"
#include "finder/SignFinderDialog.h"
#include "share/PictureWindow.h"
#include "widgets/Prompt.h"
#include "widgets/StatusBar.h"

#include "HttpServer.h"
#include "RandomSite.h"
#include "WaitUntil.h"
#include "WindowKit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

using httpkit::Response;

// Random actions through the real window (the query flow has its own run of
// thousands), with a server that is slow or broken at random: the sign on
// show and the data on show always belong together, copies report what is on
// show, and nothing crashes.
class TestRandomActions : public QObject, private MainWindowFixture
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void randomActions();

private:
    void checkPanel(const char *when);
    void copy();
    QString text(const char *label) { return control<QLabel>(label)->text(); }

    RandomSite m_site{100};
};

void TestRandomActions::initTestCase()
{
    Prompt::setResponder([](const Prompt::Request &request) {
        return request.buttons == Prompt::Buttons::Ok ? Prompt::Answer::Ok : Prompt::Answer::Yes;
    });
    QVERIFY(serve([this](const httpkit::Request &request) { return m_site.answer(request); }));

    useOwnAppDir(); // no tune there: the music fails quietly
    environment.fetchLimits.idleTimeout = std::chrono::milliseconds(300);
    environment.fetchLimits.totalTimeout = std::chrono::milliseconds(500);
    environment.completionDelay = std::chrono::milliseconds(50);
    QVERIFY(open());
    connect(flowOf(*form()), &QueryFlow::completed, this, [this] { checkPanel("on completion"); });
}

void TestRandomActions::cleanupTestCase()
{
    close();
    Prompt::setResponder({});
}

void TestRandomActions::checkPanel(const char *when)
{
    const SignInfo *sign = SignTable::byName(text("Label11"));
    if (!sign) {
        QCOMPARE(text("Label11"), QStringLiteral("星座名称"));
        return;
    }
    QCOMPARE(flowOf(*form())->onShow().sign, sign);
    const QString description = text("Label10");
    const bool tomorrow = description.endsWith(u"的明日运势");
    const PageSpec spec = RandomSite::pageOf(*sign, tomorrow);
    const auto fail = [&](const QString &what) {
        QFAIL(qPrintable(
            QStringLiteral("%1 %2: %3 shows %4 (seed %5)")
                .arg(QString::fromLatin1(when), sign->name.toString(), what, text("Label7"))
                .arg(m_site.seed())));
    };
    if (description != spec.description)
        fail(u"description " + description);
    if (text("Label7") != u"幸运颜色:" + spec.colour)
        fail(QStringLiteral("colour"));
    if (text("Label8") != u"幸运数字:" + spec.number)
        fail(QStringLiteral("number"));
    if (text("Label9") != u"速配星座:" + spec.matching)
        fail(QStringLiteral("matching sign"));
    if (text("Label12") != sign->dateRange())
        fail(QStringLiteral("dates"));
    if (control<QLabel>("Image21")->pixmap().toImage() !=
        control<QLabel>(qPrintable(sign->picture.toString()))->pixmap().toImage())
        fail(QStringLiteral("picture"));
    const int counts[] = {spec.overall, spec.love, spec.work, spec.finance};
    for (int i = 0; i < 20; ++i) {
        auto *star = control<QLabel>(qPrintable(QStringLiteral("Image%1").arg(StarImages[i])));
        if (star->isVisible() != (i % 5 < counts[i / 5]))
            fail(QStringLiteral("stars of row %1").arg(i / 5));
    }
}

void TestRandomActions::copy()
{
    QGuiApplication::clipboard()->clear();
    control<QAction>("wz")->trigger();
    const SignInfo *sign = SignTable::byName(text("Label11"));
    const QString report = QGuiApplication::clipboard()->text();
    if (!sign) {
        QVERIFY(report.isEmpty());
        return;
    }
    const QStringList lines = report.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 15);
    const bool tomorrow = text("Label10").endsWith(u"的明日运势");
    const PageSpec spec = RandomSite::pageOf(*sign, tomorrow);
    QCOMPARE(lines[0], sign->name + (tomorrow ? u"明日运势" : u"今日运势"));
    QCOMPARE(lines[2], QStringLiteral("综合运势:%1颗星").arg(spec.overall));
    QCOMPARE(lines[3], QStringLiteral("爱情运势:%1颗星").arg(spec.love));
    QCOMPARE(lines[4], QStringLiteral("工作状况:%1颗星").arg(spec.work));
    QCOMPARE(lines[5], QStringLiteral("理财投资:%1颗星").arg(spec.finance));
    QCOMPARE(lines[8], text("Label7"));
    QCOMPARE(lines[12], text("Label10"));
}

void TestRandomActions::randomActions()
{
    const int actions = qEnvironmentVariableIsSet("ZHIWEI_RANDOM_ACTIONS")
                            ? qEnvironmentVariableIntValue("ZHIWEI_RANDOM_ACTIONS")
                            : 400;
    int completions = 0;
    connect(flowOf(*form()), &QueryFlow::completed, this, [&] { ++completions; });
    for (int i = 0; i < actions; ++i) {
        const quint32 pick = m_site.random().bounded(100);
        if (pick < 40) {
            control<QPushButton>(
                qPrintable(SignTable::all()[m_site.random().bounded(12)].button.toString()))
                ->click();
        } else if (pick < 52) {
            control<QPushButton>("Command18")->click();
        } else if (pick < 66) {
            copy();
        } else if (pick < 68) {
            whenModal<PictureWindow>(this, [](PictureWindow *form4) {
                controlOf<QPushButton>(form4, "Command1")->click();
            });
            control<QAction>("jt")->trigger();
            QVERIFY(waitUntil([] { return !QApplication::activeModalWidget(); }, 5000));
        } else if (pick < 70) {
            const int month = int(m_site.random().bounded(12));
            const int day = int(m_site.random().bounded(28));
            whenModal<SignFinderDialog>(this, [month, day](SignFinderDialog *finder) {
                pickRow(controlOf<QComboBox>(finder, "Combo1"), month);
                pickRow(controlOf<QComboBox>(finder, "Combo2"), day);
                controlOf<QPushButton>(finder, "Command1")->click();
            });
            control<QPushButton>("Command17")->click();
        } else if (pick < 74) {
            control<QPushButton>("Command16")->click();
        } else if (pick < 78) {
            // Until the query under way has ended, however busy the machine.
            QueryFlow *flow = flowOf(*form());
            const auto timers = flow->findChildren<QTimer *>();
            QVERIFY(waitUntil(
                [flow, &timers] {
                    return !flow->isFetching() &&
                           std::none_of(timers.begin(), timers.end(),
                                        [](QTimer *timer) { return timer->isActive(); });
                },
                10000));
        } else {
            QTest::qWait(int(m_site.random().bounded(25)));
        }
        checkPanel("after an action");
        if (QTest::currentTestFailed())
            return;
    }
    // Enough fortunes were shown for the check to mean something.
    QVERIFY2(
        completions > actions / 100,
        qPrintable(QStringLiteral("%1 completions (seed %2)").arg(completions).arg(m_site.seed())));
    qInfo("%d actions, %d fortunes shown", actions, completions);
}

QTEST_MAIN(TestRandomActions)
#include "tst_randomactions.moc"
