#include "app/Form1.h"
#include "finder/Form2.h"
#include "platform/Prompt.h"
#include "platform/StatusBar.h"
#include "share/Form4.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using httpkit::Response;

namespace {

// Each sign's page is its own: its numbers and words name the sign and the
// day, so a panel that mixes two signs or two days cannot go unnoticed.
PageSpec specFor(const SignInfo &sign, bool tomorrow)
{
    PageSpec spec;
    spec.overall = sign.index % 5 + 1;
    spec.love = (sign.index + 1) % 5 + 1;
    spec.work = (sign.index + 2) % 5 + 1;
    spec.finance = (sign.index + 3) % 5 + 1;
    spec.colour = sign.slug.toString() + u"色";
    spec.number = QString::number(sign.index);
    spec.matching = sign.name.toString();
    spec.description = sign.name.toString() + (tomorrow ? u"的明日运势" : u"的今日运势");
    return spec;
}

} // namespace

// A couple of thousand random actions, with a server that is slow or broken
// at random: the sign on show and the data on show always belong together,
// and nothing crashes.
class TestRandomActions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void randomActions();

private:
    void checkPanel(const char *when);
    void copy();

    QRandomGenerator m_random;
    httpkit::Server *m_server = nullptr;
    Form1 *m_form = nullptr;
    QTemporaryDir m_appDir;
    int m_failures = 0;
};

void TestRandomActions::initTestCase()
{
    const quint32 seed = qEnvironmentVariableIsSet("ZHIWEI_RANDOM_SEED")
                             ? quint32(qEnvironmentVariableIntValue("ZHIWEI_RANDOM_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (set ZHIWEI_RANDOM_SEED to replay)", seed);
    m_random.seed(seed);

    Prompt::setResponder([](const Prompt::Request &request) {
        return request.buttons == Prompt::Buttons::Ok ? Prompt::Answer::Ok : Prompt::Answer::Yes;
    });
    m_server = new httpkit::Server([this](const httpkit::Request &request) {
        const QList<QByteArray> parts = request.path().split('/');
        const SignInfo *sign =
            parts.size() > 3 ? SignTable::bySlug(QString::fromLatin1(parts[3])) : nullptr;
        if (!sign)
            return Response::status404();
        const bool tomorrow = !parts.last().isEmpty();
        Response r = Response::html(TestPages::page(specFor(*sign, tomorrow)).toUtf8());
        r.delayMs = int(m_random.bounded(400));
        switch (m_random.bounded(20)) {
        case 0:
            return Response::status404();
        case 1:
            r.body.clear();
            break;
        case 2:
            r.delivery = Response::Delivery::ResetMidBody;
            break;
        case 3:
            r.delivery = Response::Delivery::Silent;
            break;
        default:
            break;
        }
        return r;
    });
    QVERIFY(m_server->listen());

    Form1::Environment environment;
    environment.endpoints = Endpoints::onLocalService(m_server->baseUrl());
    environment.appDir = m_appDir.path(); // no tune there: the music fails quietly
    environment.fetchLimits.idleTimeout = std::chrono::milliseconds(700);
    environment.fetchLimits.totalTimeout = std::chrono::milliseconds(1000);
    m_form = new Form1(environment);
    m_form->Timer3->stop();
    m_form->show();
    connect(m_form, &Form1::fortuneShown, this, [this] { checkPanel("on completion"); });
}

void TestRandomActions::cleanupTestCase()
{
    delete m_form;
    delete m_server;
    Prompt::setResponder({});
}

void TestRandomActions::checkPanel(const char *when)
{
    const SignInfo *sign = SignTable::byName(m_form->Label11->text());
    if (!sign) {
        QCOMPARE(m_form->Label11->text(), QStringLiteral("星座名称"));
        return;
    }
    QCOMPARE(m_form->signOnShow(), sign);
    const QString description = m_form->Label10->text();
    const bool tomorrow = description.endsWith(u"的明日运势");
    const PageSpec spec = specFor(*sign, tomorrow);
    const auto fail = [&](const QString &what) {
        ++m_failures;
        QFAIL(qPrintable(QStringLiteral("%1 %2: %3 shows %4")
                             .arg(QString::fromLatin1(when), sign->name.toString(), what,
                                  m_form->Label7->text())));
    };
    if (description != spec.description)
        fail(u"description " + description);
    if (m_form->Label7->text() != u"幸运颜色:" + spec.colour)
        fail(QStringLiteral("colour"));
    if (m_form->Label8->text() != u"幸运数字:" + spec.number)
        fail(QStringLiteral("number"));
    if (m_form->Label9->text() != u"速配星座:" + spec.matching)
        fail(QStringLiteral("matching sign"));
    if (m_form->Label12->text() != sign->dateRange)
        fail(QStringLiteral("dates"));
    if (m_form->Image21->pixmap().toImage() !=
        m_form->signPictures()[SignTable::position(*sign)]->pixmap().toImage())
        fail(QStringLiteral("picture"));
    using PageParser::Aspect;
    const int counts[] = {spec.overall, spec.love, spec.work, spec.finance};
    int k = 0;
    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        const auto row = m_form->starRow(aspect);
        for (int i = 0; i < 5; ++i) {
            if (row[i]->isVisible() != (i < counts[k]))
                fail(QStringLiteral("stars of row %1").arg(k));
        }
        ++k;
    }
}

void TestRandomActions::copy()
{
    QGuiApplication::clipboard()->clear();
    m_form->wz->trigger();
    const SignInfo *sign = SignTable::byName(m_form->Label11->text());
    const QString report = QGuiApplication::clipboard()->text();
    if (!sign) {
        QVERIFY(report.isEmpty());
        return;
    }
    const QStringList lines = report.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 15);
    const bool tomorrow = m_form->Label10->text().endsWith(u"的明日运势");
    const PageSpec spec = specFor(*sign, tomorrow);
    QCOMPARE(lines[0], sign->name + (tomorrow ? u"明日运势" : u"今日运势"));
    QCOMPARE(lines[2], QStringLiteral("综合运势:%1颗星").arg(spec.overall));
    QCOMPARE(lines[3], QStringLiteral("爱情运势:%1颗星").arg(spec.love));
    QCOMPARE(lines[4], QStringLiteral("工作状况:%1颗星").arg(spec.work));
    QCOMPARE(lines[5], QStringLiteral("理财投资:%1颗星").arg(spec.finance));
    QCOMPARE(lines[8], m_form->Label7->text());
    QCOMPARE(lines[12], m_form->Label10->text());
}

void TestRandomActions::randomActions()
{
    const int actions = qEnvironmentVariableIsSet("ZHIWEI_RANDOM_ACTIONS")
                            ? qEnvironmentVariableIntValue("ZHIWEI_RANDOM_ACTIONS")
                            : 2000;
    int completions = 0;
    connect(m_form, &Form1::fortuneShown, this, [&] { ++completions; });
    for (int i = 0; i < actions; ++i) {
        const quint32 pick = m_random.bounded(100);
        if (pick < 40) {
            m_form->signButtons()[m_random.bounded(12)]->click();
        } else if (pick < 52) {
            m_form->Command18->click();
        } else if (pick < 66) {
            copy();
        } else if (pick < 68) {
            whenModal<Form4>(this, [](Form4 *form4) { form4->Command1->click(); });
            m_form->jt->trigger();
            QTRY_VERIFY(!QApplication::activeModalWidget());
        } else if (pick < 70) {
            const int month = int(m_random.bounded(12));
            const int day = int(m_random.bounded(28));
            whenModal<Form2>(this, [month, day](Form2 *finder) {
                finder->Combo1->setCurrentIndex(month);
                emit finder->Combo1->activated(month);
                finder->Combo2->setCurrentIndex(day);
                emit finder->Combo2->activated(day);
                finder->Command1->click();
            });
            m_form->Command17->click();
        } else if (pick < 74) {
            m_form->Command16->click();
        } else if (pick < 78) {
            QTest::qWait(1100 + int(m_random.bounded(300))); // time for a completion
        } else {
            QTest::qWait(int(m_random.bounded(25)));
        }
        checkPanel("after an action");
        if (QTest::currentTestFailed())
            return;
    }
    // Enough fortunes were shown for the check to mean something.
    QVERIFY2(completions > actions / 200, qPrintable(QString::number(completions)));
    qInfo("%d actions, %d fortunes shown", actions, completions);
}

QTEST_MAIN(TestRandomActions)
#include "tst_randomactions.moc"
