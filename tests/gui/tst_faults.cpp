#include "app/Form1.h"
#include "platform/StatusBar.h"
#include "platform/TextBox.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

using httpkit::Response;

namespace {

enum class Fault {
    Refused,
    HostUnknown,
    Silent,
    Drip,
    ResetMidBody,
    Huge,
    RedirectLoop,
    NotFound,
    ServerError,
    Empty,
    Gbk,
    Gzip,
    Chunked,
};

} // namespace

// Every way a fortune site can misbehave, met by the running main window:
// the status says what happened, the panel keeps the fortune it showed, the
// window answers at once and the processor idles while it waits.
class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fault_data();
    void fault();

private:
    void makeForm(const QUrl &base);

    httpkit::Server *m_server = nullptr;
    Fault m_fault = Fault::Silent;
    Form1 *m_form = nullptr;
};

void TestFaults::init()
{
    // 双鱼座 is the sign that meets the fault; every other sign's page is fine.
    m_server = new httpkit::Server([this](const httpkit::Request &request) {
        PageSpec spec;
        if (!request.path().contains("pisces"))
            return Response::html(TestPages::page(spec).toUtf8());
        spec.colour = QStringLiteral("鹅黄色");
        spec.description = QStringLiteral("双鱼座今天宜静不宜动。");
        const QByteArray page = TestPages::page(spec).toUtf8();
        Response r = Response::html(page);
        switch (m_fault) {
        case Fault::Silent:
            r.delivery = Response::Delivery::Silent;
            break;
        case Fault::Drip:
            r.delivery = Response::Delivery::Drip;
            r.dripIntervalMs = 1000;
            break;
        case Fault::ResetMidBody:
            r.delivery = Response::Delivery::ResetMidBody;
            break;
        case Fault::Huge:
            r.body = QByteArray(20 * 1024 * 1024, 'x');
            break;
        case Fault::RedirectLoop:
            return Response::redirect(request.target);
        case Fault::NotFound:
            return Response::status404();
        case Fault::ServerError:
            r.status = 500;
            break;
        case Fault::Empty:
            r.body.clear();
            break;
        case Fault::Gbk: {
            QStringEncoder gbk("GB18030");
            r = Response::html(gbk.encode(TestPages::page(spec)), "gbk");
            break;
        }
        case Fault::Gzip:
            r.gzip = true;
            break;
        case Fault::Chunked:
            r.delivery = Response::Delivery::Chunked;
            break;
        default:
            break;
        }
        return r;
    });
    QVERIFY(m_server->listen());
}

void TestFaults::cleanup()
{
    delete m_form;
    m_form = nullptr;
    delete m_server;
}

void TestFaults::makeForm(const QUrl &base)
{
    Form1::Environment environment;
    environment.endpoints = Endpoints::onLocalService(base);
    // Shorter than the program's 15 s and 30 s, so the test need not wait them out.
    environment.fetchLimits.idleTimeout = std::chrono::milliseconds(2500);
    environment.fetchLimits.totalTimeout = std::chrono::milliseconds(3500);
    m_form = new Form1(environment);
    m_form->Timer3->stop();
    m_form->show();
}

void TestFaults::fault_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("shown"); // the page is a fortune after all
    QTest::addColumn<bool>("waits"); // the server keeps the query waiting

    QTest::newRow("refused connection") << int(Fault::Refused) << false << false;
    QTest::newRow("host that does not resolve") << int(Fault::HostUnknown) << false << false;
    QTest::newRow("server that never answers") << int(Fault::Silent) << false << true;
    QTest::newRow("a byte a second") << int(Fault::Drip) << false << true;
    QTest::newRow("reset in the middle of the body") << int(Fault::ResetMidBody) << false << false;
    QTest::newRow("20 MB body") << int(Fault::Huge) << false << false;
    QTest::newRow("redirect loop") << int(Fault::RedirectLoop) << false << false;
    QTest::newRow("404") << int(Fault::NotFound) << false << false;
    QTest::newRow("500") << int(Fault::ServerError) << false << false;
    QTest::newRow("empty 200") << int(Fault::Empty) << false << false;
    QTest::newRow("page in GBK") << int(Fault::Gbk) << true << false;
    QTest::newRow("gzip") << int(Fault::Gzip) << true << false;
    QTest::newRow("chunked") << int(Fault::Chunked) << true << false;
}

void TestFaults::fault()
{
    QFETCH(int, fault);
    QFETCH(bool, shown);
    QFETCH(bool, waits);
    m_fault = Fault(fault);

    QUrl base = m_server->baseUrl();
    if (m_fault == Fault::Refused) {
        httpkit::Server gone([](const httpkit::Request &) { return Response(); });
        QVERIFY(gone.listen());
        base = gone.baseUrl(); // nobody listens there once it is gone
    } else if (m_fault == Fault::HostUnknown) {
        base = QUrl(QStringLiteral("http://fortune.zhiwei.invalid"));
    }
    makeForm(base);
    if (base == m_server->baseUrl()) {
        QSignalSpy first(m_form, &Form1::fortuneShown);
        m_form->Command8->click(); // 天蝎座 on show before the fault
        QVERIFY(first.wait(5000));
    }
    const PanelSnapshot before = PanelSnapshot::of(*m_form);

    QSignalSpy shownSpy(m_form, &Form1::fortuneShown);
    QSignalSpy failed(m_form, &Form1::queryFailed);
    m_form->Command12->click();
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("双鱼座今日运势获取中..."));

    if (waits) {
        // While the server holds the query, the window idles.
        const double cpuBefore = processorSeconds();
        QVERIFY(!failed.wait(1500));
        const double cpu = processorSeconds() - cpuBefore;
        QVERIFY2(cpu < 0.15, qPrintable(QStringLiteral("%1 s of processor in 1.5 s").arg(cpu)));
        QVERIFY(m_form->isFetching());
        QCOMPARE(PanelSnapshot::of(*m_form), before);
    }

    if (shown) {
        QVERIFY(shownSpy.wait(5000));
        QCOMPARE(m_form->Label11->text(), QStringLiteral("双鱼座"));
        QCOMPARE(m_form->Label7->text(), QStringLiteral("幸运颜色:鹅黄色"));
        QCOMPARE(m_form->Label10->text(), QStringLiteral("双鱼座今天宜静不宜动。"));
        QCOMPARE(m_form->S1->panelText(2), QStringLiteral("双鱼座今日运势获取完毕..."));
        return;
    }

    QVERIFY(failed.size() == 1 || failed.wait(8000));
    QCOMPARE(m_form->S1->panelText(2), QStringLiteral("双鱼座今日运势获取失败..."));
    QCOMPARE(PanelSnapshot::of(*m_form), before);
    QVERIFY(!m_form->isFetching());
    QCOMPARE(shownSpy.size(), 0);

    // And the window answers the next click at once.
    if (base == m_server->baseUrl()) {
        m_form->Command1->click();
        QCOMPARE(m_form->S1->panelText(2), QStringLiteral("白羊座今日运势获取中..."));
        QVERIFY(shownSpy.wait(5000));
        QCOMPARE(m_form->Label11->text(), QStringLiteral("白羊座"));
    }
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
