#include "app/MainWindow.h"
#include "core/QueryFlow.h"
#include "desktop/Browser.h"
#include "sound/MediaPlayer.h"
#include "widgets/Prompt.h"
#include "widgets/StatusBar.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using httpkit::Response;

// The main window's dealings with its maker and its music: the version
// check on its one-second tick, the forum buttons, the exit prompt on every
// close, and the music button.
class TestShell : public QObject, private MainWindowFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void versionCheck_data();
    void versionCheck();
    void slowVersionCheckLeavesAQuerysStatus();
    void forumButtons();
    void exitPrompt_data();
    void exitPrompt();
    void musicButton();

private:
    QList<Prompt::Request> m_prompts;
    Prompt::Answer m_answer = Prompt::Answer::Ok;
    QList<QUrl> m_opened;
    QList<QString> m_events; // prompts, browser and program end, in order
    int m_ends = 0;
    QByteArray m_notice = "V2";
    int m_noticeDelayMs = 0;
};

void TestShell::init()
{
    m_prompts.clear();
    m_opened.clear();
    m_events.clear();
    m_ends = 0;
    m_answer = Prompt::Answer::Ok;
    m_notice = "V2";
    m_noticeDelayMs = 0;
    Prompt::setResponder([this](const Prompt::Request &request) {
        m_prompts << request;
        m_events << u"prompt " + request.text;
        return m_answer;
    });
    Browser::setOpener([this](const QUrl &url) {
        m_opened << url;
        m_events << u"open " + url.toString();
        return true;
    });
    QVERIFY(serve([this](const httpkit::Request &request) {
        if (request.path() == "/kwgamejc/xz/jc.txt") {
            Response notice = Response::text(m_notice);
            notice.delayMs = m_noticeDelayMs;
            return notice;
        }
        if (request.path().startsWith("/astro/view/"))
            return Response::html(TestPages::page().toUtf8());
        return Response::status404();
    }));
    useOwnAppDir();
    environment.completionDelay = std::chrono::milliseconds(0);
    environment.endProgram = [this] {
        ++m_ends;
        m_events << QStringLiteral("end");
    };
}

void TestShell::cleanup()
{
    close();
    Prompt::setResponder({});
    Browser::setOpener({});
}

void TestShell::versionCheck_data()
{
    QTest::addColumn<QByteArray>("notice");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("events");

    const QString forum = QStringLiteral("open http://127.0.0.1:%1/bbs/");
    QTest::newRow("current") << QByteArray("V2") << QStringLiteral("请选择您的星座查看运势..")
                             << QStringList();
    QTest::newRow("newer") << QByteArray("V3") << QStringLiteral("发现新版本..")
                           << QStringList{
                                  QStringLiteral("prompt 发现最新版本![V3]确定后打开官方论坛!"),
                                  forum, QStringLiteral("end")};
    QTest::newRow("lower case is newer")
        << QByteArray("v2") << QStringLiteral("发现新版本..")
        << QStringList{QStringLiteral("prompt 发现最新版本![v2]确定后打开官方论坛!"), forum,
                       QStringLiteral("end")};
    QTest::newRow("empty notice") << QByteArray() << QStringLiteral("程序检测更新中...")
                                  << QStringList{QStringLiteral("prompt 检测网络失败!请您稍后再试"),
                                                 QStringLiteral("end")};
}

void TestShell::versionCheck()
{
    QFETCH(QByteArray, notice);
    QFETCH(QString, status);
    QFETCH(QStringList, events);
    for (QString &event : events)
        event = event.arg(server()->port());
    m_notice = notice;

    create();
    QVERIFY(control<QTimer>("Timer3")->isActive());
    QCOMPARE(control<StatusBar>("S1")->panelText(2), QStringLiteral("程序检测更新中..."));
    // One second after the load the check runs, once.
    QTRY_COMPARE_WITH_TIMEOUT(server()->requests().size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(control<StatusBar>("S1")->panelText(2), status, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_events, events, 5000);
    // Stopped: no second tick asks again.
    QVERIFY(!control<QTimer>("Timer3")->isActive());
    QCOMPARE(m_ends, events.contains(QStringLiteral("end")) ? 1 : 0);
}

void TestShell::slowVersionCheckLeavesAQuerysStatus()
{
    m_noticeDelayMs = 2500;
    QSignalSpy shown(flowOf(*create()), &QueryFlow::completed);
    control<QPushButton>("Command6")->click();
    QVERIFY(shown.wait(5000));
    QCOMPARE(control<StatusBar>("S1")->panelText(2), QStringLiteral("处女座今日运势获取完毕..."));
    // The notice "V2" arrives after the fortune: the check ends quietly.
    QTRY_VERIFY_WITH_TIMEOUT(!control<QTimer>("Timer3")->isActive(), 8000);
    QCOMPARE(control<StatusBar>("S1")->panelText(2), QStringLiteral("处女座今日运势获取完毕..."));
    QVERIFY(m_events.isEmpty());
}

// Each forum button opens its own forum.
void TestShell::forumButtons()
{
    const QUrl base = server()->baseUrl();
    MainWindowFixture forum(base);
    forum.environment.endProgram = [] {};
    forum.create();
    forum.control<QTimer>("Timer3")->stop();
    forum.control<QPushButton>("Command13")->click();
    forum.control<QPushButton>("Command14")->click();
    const QList<QUrl> forums = {base.resolved(QUrl(QStringLiteral("/bbs/"))),
                                base.resolved(QUrl(QStringLiteral("/yunfan/")))};
    QTRY_COMPARE(m_opened, forums);
    QVERIFY(m_prompts.isEmpty());
}

void TestShell::exitPrompt_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("forumOpened");
    QTest::newRow("yes opens the forum and closes") << int(Prompt::Answer::Yes) << true << 1;
    QTest::newRow("no closes") << int(Prompt::Answer::No) << true << 0;
    QTest::newRow("cancel keeps the window") << int(Prompt::Answer::Cancel) << false << 0;
}

void TestShell::exitPrompt()
{
    QFETCH(int, answer);
    QFETCH(bool, closes);
    QFETCH(int, forumOpened);

    open(Wait::No);
    control<QLabel>("Label8")->setText(
        QStringLiteral("幸运数字:42")); // some state that must survive a cancel
    m_answer = Prompt::Answer(answer);

    control<QPushButton>("Command15")->click(); // the exit button asks the window to close
    QCOMPARE(m_prompts.size(), 1);
    const Prompt::Request &prompt = m_prompts[0];
    QCOMPARE(prompt.title, QStringLiteral("Kw系列软件"));
    QCOMPARE(prompt.buttons, Prompt::Buttons::YesNoCancel);
    QCOMPARE(prompt.icon, Prompt::Icon::Information);
    QCOMPARE(prompt.text, QStringLiteral("感谢您对阿澈、对Kw系列软件、游戏的支持!\n \n"
                                         "是否退出并到论坛可以下载更多阿澈的原创免费软件?"));
    QCOMPARE(form()->isVisible(), !closes);
    QTRY_COMPARE(m_opened.size(), forumOpened);
    if (!closes)
        QCOMPARE(control<QLabel>("Label8")->text(), QStringLiteral("幸运数字:42"));

    // The frame's close box asks as well.
    if (!closes) {
        form()->close();
        QCOMPARE(m_prompts.size(), 2);
        QVERIFY(form()->isVisible());
    }
    QCOMPARE(m_ends, 0);
}

void TestShell::musicButton()
{
    create();
    control<QTimer>("Timer3")->stop();
    const QString tune = environment.appDir + u"/bg.mp3";
    QCOMPARE(form()->findChildren<MediaPlayer *>().size(), 1); // no second tune
    QCOMPARE(control<MediaPlayer>("W1")->source(), tune);      // set by the load step
    QCOMPARE(control<QPushButton>("Command16")->text(), QStringLiteral("关闭音乐"));
    control<QPushButton>("Command16")->click();
    QCOMPARE(control<QPushButton>("Command16")->text(), QStringLiteral("打开音乐"));
    QCOMPARE(control<MediaPlayer>("W1")->source(), QString());
    control<QPushButton>("Command16")->click();
    QCOMPARE(control<QPushButton>("Command16")->text(), QStringLiteral("关闭音乐"));
    QCOMPARE(control<MediaPlayer>("W1")->source(), tune);
    // The caption shows the state, it does not hold it: a caption written
    // from outside changes nothing.
    control<QPushButton>("Command16")->setText(QStringLiteral("音乐"));
    control<QPushButton>("Command16")->click();
    QCOMPARE(control<QPushButton>("Command16")->text(), QStringLiteral("打开音乐"));
    QCOMPARE(control<MediaPlayer>("W1")->source(), QString());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
