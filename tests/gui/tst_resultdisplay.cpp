#include "core/FortuneReport.h"
#include "widgets/ResultDisplay.h"

#include <QLabel>
#include <QTest>
#include <QWidget>

#include <memory>

// The fortune panel as a completion fills it: which stars show, what the
// value labels read, and the sign's name, dates and picture.
class TestResultDisplay : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void starRows_data();
    void starRows();
    void valuesNameDatesAndPicture();
    void emptyValuesLeaveTheirPrefixAlone();
    void starRowsAreDescribedToScreenReaders();

private:
    QLabel *label(const QString &text = QString());

    std::unique_ptr<QWidget> m_panel;
    ResultDisplay::Controls m_controls;
    std::unique_ptr<ResultDisplay> m_display;
};

QLabel *TestResultDisplay::label(const QString &text)
{
    auto *made = new QLabel(text, m_panel.get());
    made->setTextFormat(Qt::PlainText);
    return made;
}

void TestResultDisplay::init()
{
    m_panel = std::make_unique<QWidget>();
    m_controls = {};
    const QStringList captions = {QStringLiteral("综合运势："), QStringLiteral("爱情运势："),
                                  QStringLiteral("工作状况："), QStringLiteral("理财投资：")};
    for (int row = 0; row < 4; ++row) {
        m_controls.rowCaptions[row] = label(captions[row]);
        for (int i = 0; i < 5; ++i) {
            m_controls.starRows[row][i] = label();
            m_controls.starRows[row][i]->setVisible(i < 4);
        }
    }
    for (QLabel *&value : m_controls.values)
        value = label(QStringLiteral("old"));
    m_controls.description = label(QStringLiteral("old"));
    m_controls.name = label(QStringLiteral("星座名称"));
    m_controls.dates = label(QStringLiteral("星座日期"));
    m_controls.picture = label();
    m_controls.welcome = label(QStringLiteral("欢迎使用知微阁"));
    for (int i = 0; i < SignTable::SignCount; ++i) {
        QPixmap picture(16, 9);
        picture.fill(QColor::fromHsv(i * 30, 255, 255));
        m_controls.signPictures[i] = label();
        m_controls.signPictures[i]->setPixmap(picture);
    }
    m_display = std::make_unique<ResultDisplay>(m_controls);
    m_panel->show();
}

void TestResultDisplay::cleanup()
{
    m_display.reset();
    m_panel.reset();
}

void TestResultDisplay::starRows_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("shown");
    QTest::newRow("none hides the row") << 0 << 0;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("two from the left") << 2 << 2;
    QTest::newRow("five") << 5 << 5;
    QTest::newRow("six hides the row") << 6 << 0;
}

void TestResultDisplay::starRows()
{
    QFETCH(int, count);
    QFETCH(int, shown);
    FortuneReport fortune;
    fortune.overallStars = fortune.loveStars = fortune.workStars = fortune.financeStars = count;
    m_display->show(*SignTable::byIndex(1), fortune);
    for (const auto &row : m_controls.starRows) {
        for (int i = 0; i < 5; ++i)
            QCOMPARE(row[i]->isVisible(), i < shown);
    }
}

void TestResultDisplay::valuesNameDatesAndPicture()
{
    FortuneReport fortune;
    fortune.healthIndex = QStringLiteral("85%");
    fortune.negotiationIndex = QStringLiteral("70%");
    fortune.luckyColour = QStringLiteral("红色");
    fortune.luckyNumber = QStringLiteral("7");
    fortune.matchingSign = QStringLiteral("天秤座");
    fortune.description = QStringLiteral("今天适合学习。");
    const SignInfo &taurus = *SignTable::byCode(u"jn");
    m_display->show(taurus, fortune);

    QStringList values;
    for (QLabel *value : m_controls.values)
        values << value->text();
    QCOMPARE(values, QStringList({QStringLiteral("健康指数:85%"), QStringLiteral("商谈指数:70%"),
                                  QStringLiteral("幸运颜色:红色"), QStringLiteral("幸运数字:7"),
                                  QStringLiteral("速配星座:天秤座")}));
    QCOMPARE(m_controls.description->text(), QStringLiteral("今天适合学习。"));
    QCOMPARE(m_controls.name->text(), QStringLiteral("金牛座"));
    QCOMPARE(m_controls.dates->text(), QStringLiteral("04/20-05/20"));
    QCOMPARE(m_controls.picture->pixmap().toImage(),
             m_controls.signPictures[SignTable::position(taurus)]->pixmap().toImage());
    // Sized to their new captions.
    for (QLabel *grown : {m_controls.values[0], m_controls.name})
        QVERIFY(grown->width() >= grown->sizeHint().width());
}

void TestResultDisplay::emptyValuesLeaveTheirPrefixAlone()
{
    FortuneReport fortune;
    fortune.negotiationIndex = QStringLiteral("70%");
    m_display->show(*SignTable::byCode(u"jx"), fortune);
    QCOMPARE(m_controls.values[1]->text(), QStringLiteral("商谈指数:70%"));
    QCOMPARE(m_controls.values[2]->text(), QStringLiteral("幸运颜色:"));
    QCOMPARE(m_controls.values[4]->text(), QStringLiteral("速配星座:"));
    QCOMPARE(m_controls.description->text(), QString());
}

void TestResultDisplay::starRowsAreDescribedToScreenReaders()
{
    QCOMPARE(m_controls.rowCaptions[0]->accessibleName(), QStringLiteral("综合运势"));
    QCOMPARE(m_controls.rowCaptions[0]->accessibleDescription(), QStringLiteral("综合运势 4 颗星"));
    FortuneReport fortune;
    fortune.workStars = 3;
    m_display->show(*SignTable::byIndex(2), fortune);
    QCOMPARE(m_controls.rowCaptions[2]->accessibleDescription(), QStringLiteral("工作状况 3 颗星"));
    QCOMPARE(m_controls.starRows[2][0]->accessibleName(), QStringLiteral("星"));
}

QTEST_MAIN(TestResultDisplay)
#include "tst_resultdisplay.moc"
