#include "app/MainWindow.h"
#include "core/QueryFlow.h"
#include "desktop/Clipboard.h"
#include "widgets/Prompt.h"

#include "HttpServer.h"
#include "TestPages.h"
#include "WindowKit.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

using httpkit::Response;

namespace {

// Markup that a page might carry in its values: styling, a link, a local
// file as a picture, and a picture that never ends loading.
const QString Bold = QStringLiteral("<b>85%</b>");
const QString Link = QStringLiteral("<a href=\"http://evil.test/\">70%</a>");
const QString LocalFile = QStringLiteral("<img src=\"file:///etc/passwd\">红色");
const QString EndlessFile = QStringLiteral("<img src=\"/dev/zero\">7");

bool holdsControl(const QString &text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n') || (u >= 0x7f && u <= 0x9f) || (u >= 0x202a && u <= 0x202e) ||
            (u >= 0x2066 && u <= 0x2069))
            return true;
    }
    return false;
}

QString rendered(const QString &toolTip)
{
    if (!Qt::mightBeRichText(toolTip))
        return toolTip;
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

} // namespace

// A page is the attacker's: whatever its values hold, the window shows and
// copies their characters, never markup, never control characters, and a
// huge value neither stalls the window nor runs over its neighbours.
class TestHostilePage : public QObject, private MainWindowFixture
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void markupAndControlsStayLiteral();
    void hugeValueIsCutToItsColumn();

private:
    void showPisces(const PageSpec &spec);

    PageSpec m_spec;
};

void TestHostilePage::init()
{
    QVERIFY(serve([this](const httpkit::Request &) {
        return Response::html(TestPages::page(m_spec).toUtf8());
    }));
    environment.completionDelay = std::chrono::milliseconds(0);
    QVERIFY(open());
}

void TestHostilePage::cleanup()
{
    close();
    Prompt::setResponder({});
}

void TestHostilePage::showPisces(const PageSpec &spec)
{
    m_spec = spec;
    QSignalSpy shown(flowOf(*form()), &QueryFlow::completed);
    control<QPushButton>("Command12")->click();
    QVERIFY(shown.wait(10000));
}

void TestHostilePage::markupAndControlsStayLiteral()
{
    PageSpec spec;
    spec.health = Bold;
    spec.negotiation = QStringLiteral(u"\u0000") + Link;
    spec.colour = LocalFile;
    spec.number = EndlessFile;
    spec.matching = QStringLiteral(u"\u202e天秤\u0000座");
    spec.description = QStringLiteral(u"今天\u0000适合\u202e学习。\u001b[2J");
    showPisces(spec);
    const QStringList hostile = {Bold, Link, LocalFile, EndlessFile};

    // A hover shows the characters, and loads nothing.
    for (const char *name : {"Label5", "Label6", "Label7", "Label8"}) {
        QLabel *value = control<QLabel>(name);
        QTest::mouseMove(value, QPoint(4, value->height() / 2));
        QTRY_VERIFY2(QToolTip::isVisible() && rendered(QToolTip::text()) == value->text(), name);
        QToolTip::hideText();
        QTest::mouseMove(form(), QPoint(2, 2));
    }

    QCOMPARE(control<QLabel>("Label5")->text(), u"健康指数:" + Bold);
    QCOMPARE(control<QLabel>("Label6")->text(), u"商谈指数:" + Link);
    QCOMPARE(control<QLabel>("Label7")->text(), u"幸运颜色:" + LocalFile);
    QCOMPARE(control<QLabel>("Label8")->text(), u"幸运数字:" + EndlessFile);
    QCOMPARE(control<QLabel>("Label9")->text(), QStringLiteral(u"速配星座:天秤座"));
    QCOMPARE(control<QLabel>("Label10")->text(), QStringLiteral(u"今天适合学习。[2J"));

    // Every surface of every widget: what it draws, its tool tip, and what a
    // screen reader hears.
    for (QWidget *widget : form()->findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        if (auto *shownLabel = qobject_cast<QLabel *>(widget)) {
            QVERIFY2(!holdsControl(shownLabel->text()), qPrintable(name));
            for (const QString &markup : hostile) {
                if (shownLabel->text().contains(markup))
                    QVERIFY2(shownLabel->textFormat() == Qt::PlainText, qPrintable(name));
            }
        }
        for (const QString &markup : hostile)
            QVERIFY2(!widget->toolTip().contains(markup), qPrintable(name));
        if (QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget)) {
            for (QAccessible::Text text : {QAccessible::Name, QAccessible::Description,
                                           QAccessible::Value, QAccessible::Help})
                QVERIFY2(!holdsControl(accessible->text(text)), qPrintable(name));
        }
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(control("Label6"))->text(QAccessible::Name),
             u"商谈指数:" + Link);

    // The copied report holds the same characters and nothing more.
    Prompt::setResponder([](const Prompt::Request &) { return Prompt::Answer::Ok; });
    QMetaObject::invokeMethod(control<QLabel>("Label13"), "clicked");
    const QString report = QGuiApplication::clipboard()->text();
    QVERIFY(report.contains(u"幸运数字:" + EndlessFile));
    QVERIFY(report.contains(QStringLiteral(u"速配星座:天秤座")));
    QVERIFY(!holdsControl(report.split(QStringLiteral("\r\n")).join(QString())));
}

void TestHostilePage::hugeValueIsCutToItsColumn()
{
    // Just under the fetcher's 4 MiB limit: a page it accepts.
    PageSpec spec;
    spec.colour = QString(3'900'000, u'y');
    showPisces(spec);

    auto *colour = control<QLabel>("Label7");
    QCOMPARE(colour->text(), u"幸运颜色:" + QString(1000, u'y') + QStringLiteral(u"…"));
    // Its column ends where the next one (商谈指数, 幸运数字) begins.
    const int nextColumn = control<QLabel>("Label8")->x();
    QVERIFY2(colour->geometry().right() < nextColumn,
             qPrintable(QStringLiteral("right edge %1").arg(colour->geometry().right())));

    // What fits is drawn, ending in "…" after a whole character, not clipped
    // through one: the same pixels as a label holding just that.
    QLabel elided(colour->fontMetrics().elidedText(colour->text(), Qt::ElideRight,
                                                   colour->contentsRect().width()),
                  colour->parentWidget());
    elided.setTextFormat(Qt::PlainText);
    elided.setFont(colour->font());
    elided.setGeometry(colour->geometry());
    QVERIFY(elided.text().endsWith(QStringLiteral(u"…")));
    QCOMPARE(colour->grab().toImage(), elided.grab().toImage());
}

QTEST_MAIN(TestHostilePage)
#include "tst_hostilepage.moc"
