#include "core/SignTable.h"
#include "finder/SignFinderDialog.h"
#include "widgets/Prompt.h"

#include "ControlTable.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// The sign finder dialog driven as a person does: pick from the lists, press
// 确定, read the message box.
class TestFinder : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void window();
    void controls_data();
    void controls();
    void startsWithNothingChosen();
    void monthList();
    void dayListFollowsTheMonth_data();
    void dayListFollowsTheMonth();
    void confirmWithoutABirthdayAsksForOne_data();
    void confirmWithoutABirthdayAsksForOne();
    void fullBirthdayNamesTheSignAndCloses_data();
    void fullBirthdayNamesTheSignAndCloses();
    void keyboardChoice();
    void closingWithoutConfirmingFindsNothing();
    void escapeCloses();

private:
    void choose(QComboBox *combo, const QString &text);

    SignFinderDialog *m_form = nullptr;
    QComboBox *m_months = nullptr;    // Combo1
    QComboBox *m_days = nullptr;      // Combo2
    QPushButton *m_confirm = nullptr; // Command1
    QList<Prompt::Request> m_prompts;
};

void TestFinder::init()
{
    m_prompts.clear();
    Prompt::setResponder([this](const Prompt::Request &request) {
        m_prompts.append(request);
        return Prompt::Answer::Ok;
    });
    m_form = new SignFinderDialog;
    m_months = m_form->findChild<QComboBox *>(QStringLiteral("Combo1"));
    m_days = m_form->findChild<QComboBox *>(QStringLiteral("Combo2"));
    m_confirm = m_form->findChild<QPushButton *>(QStringLiteral("Command1"));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
}

void TestFinder::cleanup()
{
    delete m_form;
    m_form = nullptr;
    Prompt::setResponder({});
}

void TestFinder::choose(QComboBox *combo, const QString &text)
{
    // What a click on a row of the open list does.
    const int index = combo->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void TestFinder::window()
{
    ControlTable::checkFixedWindow(m_form, "Form2", "星座判断", {322, 226}, false);
    QVERIFY(m_form->isModal());
    QVERIFY(!(m_form->windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(m_form->windowIcon().isNull());

    // Not even the icon of the window that opens it.
    QWidget owner;
    QPixmap dot(16, 16);
    dot.fill(Qt::red);
    owner.setWindowIcon(QIcon(dot));
    SignFinderDialog owned(&owner);
    QVERIFY(owned.windowIcon().isNull());
}

void TestFinder::controls_data()
{
    using ControlTable::row;
    ControlTable::addColumns();
    row("Frame1", "Form2", {16, 24, 289, 113}, "请选择您的生日");
    row("Label1", "Frame1", {16, 56, 96, 12}, "请选择您的生日：");
    row("Combo1", "Frame1", {112, 53, 57, 20}, "");
    row("Label2", "Frame1", {176, 55, 0, 0}, "月");
    row("Combo2", "Frame1", {200, 53, 49, 20}, "");
    row("Label3", "Frame1", {256, 55, 0, 0}, "日");
    row("Command1", "Form2", {16, 152, 289, 49}, "确定");
}

void TestFinder::controls()
{
    ControlTable::check(m_form);
}

void TestFinder::startsWithNothingChosen()
{
    QCOMPARE(m_months->currentIndex(), -1);
    QCOMPARE(m_months->currentText(), QString());
    QCOMPARE(m_days->count(), 0);
    QCOMPARE(m_days->currentText(), QString());
    QCOMPARE(m_form->foundSign(), nullptr);
}

void TestFinder::monthList()
{
    QStringList months;
    for (int i = 0; i < m_months->count(); ++i)
        months << m_months->itemText(i);
    QCOMPARE(months, QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}));
}

void TestFinder::dayListFollowsTheMonth_data()
{
    QTest::addColumn<QString>("month");
    QTest::addColumn<int>("days");

    constexpr int Lengths[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int month = 1; month <= 12; ++month)
        QTest::addRow("month %d lists %d days", month, Lengths[month - 1])
            << QString::number(month) << Lengths[month - 1];
}

void TestFinder::dayListFollowsTheMonth()
{
    QFETCH(QString, month);
    QFETCH(int, days);

    // Start from a longer or shorter list, so a refill that appends shows up.
    choose(m_months, month == u"1" ? QStringLiteral("2") : QStringLiteral("1"));
    choose(m_days, QStringLiteral("15"));
    choose(m_months, month);

    QCOMPARE(m_days->count(), days);
    for (int i = 0; i < days; ++i)
        QCOMPARE(m_days->itemText(i), QString::number(i + 1));
    QCOMPARE(m_days->currentIndex(), -1);
    QCOMPARE(m_days->currentText(), QString());
}

void TestFinder::confirmWithoutABirthdayAsksForOne_data()
{
    QTest::addColumn<QStringList>("steps"); // "m<n>" picks a month, "d<n>" a day

    QTest::newRow("nothing chosen") << QStringList{};
    QTest::newRow("only a month") << QStringList{"m5"};
    QTest::newRow("month and day, then another month clears the day")
        << QStringList{"m5", "d10", "m6"};
    QTest::newRow("month and day, then the same month again clears the day")
        << QStringList{"m5", "d10", "m5"};
}

void TestFinder::confirmWithoutABirthdayAsksForOne()
{
    QFETCH(QStringList, steps);
    for (const QString &step : steps)
        choose(step.startsWith(u'm') ? m_months : m_days, step.mid(1));

    QSignalSpy closed(m_form, &QDialog::finished);
    QTest::mouseClick(m_confirm, Qt::LeftButton);

    QCOMPARE(m_prompts.size(), 1);
    QCOMPARE(m_prompts[0].text, QStringLiteral("请选择您的生日!"));
    QCOMPARE(m_prompts[0].title, QStringLiteral("Kw系列软件"));
    QCOMPARE(m_prompts[0].icon, Prompt::Icon::Information);
    QCOMPARE(m_prompts[0].buttons, Prompt::Buttons::Ok);
    QVERIFY(m_form->isVisible());
    QCOMPARE(closed.count(), 0);
    QCOMPARE(m_form->foundSign(), nullptr);

    // The dialog still works: a full choice now goes through.
    choose(m_months, QStringLiteral("3"));
    choose(m_days, QStringLiteral("21"));
    QTest::mouseClick(m_confirm, Qt::LeftButton);
    QCOMPARE(m_prompts.size(), 2);
    QCOMPARE(m_prompts[1].text, QStringLiteral("您的生日为:3月21日,星座为白羊座!"));
    QCOMPARE(m_form->result(), int(QDialog::Accepted));
}

void TestFinder::fullBirthdayNamesTheSignAndCloses_data()
{
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("sign");

    auto row = [](const char *name, const char *month, const char *day, const char *message,
                  const char *sign) {
        QTest::newRow(name) << QString::fromUtf8(month) << QString::fromUtf8(day)
                            << QString::fromUtf8(message) << QString::fromUtf8(sign);
    };
    row("23 Nov is 射手座", "11", "23", "您的生日为:11月23日,星座为射手座!", "射手座");
    row("23 Jul is 狮子座, worded with 的", "7", "23", "您的生日为:7月23日,的星座为狮子座!",
        "狮子座");
    row("29 Feb is 双鱼座", "2", "29", "您的生日为:2月29日,星座为双鱼座!", "双鱼座");
    row("19 Jan is 摩羯座", "1", "19", "您的生日为:1月19日,星座为摩羯座!", "摩羯座");
    row("31 Dec is 摩羯座", "12", "31", "您的生日为:12月31日,星座为摩羯座!", "摩羯座");
}

void TestFinder::fullBirthdayNamesTheSignAndCloses()
{
    QFETCH(QString, month);
    QFETCH(QString, day);
    QFETCH(QString, message);
    QFETCH(QString, sign);

    choose(m_months, month);
    choose(m_days, day);
    QSignalSpy accepted(m_form, &QDialog::accepted);
    QTest::mouseClick(m_confirm, Qt::LeftButton);

    QCOMPARE(m_prompts.size(), 1);
    QCOMPARE(m_prompts[0].text, message);
    QCOMPARE(m_prompts[0].title, QStringLiteral("Kw系列软件"));
    QCOMPARE(m_prompts[0].icon, Prompt::Icon::Information);
    QCOMPARE(m_prompts[0].buttons, Prompt::Buttons::Ok);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->result(), int(QDialog::Accepted));
    QVERIFY(m_form->foundSign());
    QCOMPARE(m_form->foundSign(), SignTable::byName(sign));
}

void TestFinder::keyboardChoice()
{
    // Arrow keys on a closed list choose a row just as a click does.
    m_months->setFocus();
    for (int i = 0; i < 11; ++i)
        QTest::keyClick(m_months, Qt::Key_Down);
    QCOMPARE(m_months->currentText(), QStringLiteral("11"));
    QCOMPARE(m_days->count(), 30);
    m_days->setFocus();
    for (int i = 0; i < 23; ++i)
        QTest::keyClick(m_days, Qt::Key_Down);
    QCOMPARE(m_days->currentText(), QStringLiteral("23"));

    QTest::mouseClick(m_confirm, Qt::LeftButton);
    QCOMPARE(m_prompts.size(), 1);
    QCOMPARE(m_prompts[0].text, QStringLiteral("您的生日为:11月23日,星座为射手座!"));
    QCOMPARE(m_form->foundSign(), SignTable::byName(u"射手座"));
}

void TestFinder::closingWithoutConfirmingFindsNothing()
{
    choose(m_months, QStringLiteral("11"));
    choose(m_days, QStringLiteral("23"));
    m_form->close();
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->result(), int(QDialog::Rejected));
    QCOMPARE(m_form->foundSign(), nullptr);
    QVERIFY(m_prompts.isEmpty());
}

void TestFinder::escapeCloses()
{
    QSignalSpy rejected(m_form, &QDialog::rejected);
    QTest::keyClick(m_form, Qt::Key_Escape);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->foundSign(), nullptr);
}

QTEST_MAIN(TestFinder)
#include "tst_finder.moc"
