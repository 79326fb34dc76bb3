#include "core/DownloadedText.h"

#include <QTest>

using DownloadedText::Lines;

class tst_DownloadedText : public QObject
{
    Q_OBJECT
private slots:
    void clean_data();
    void clean();
    void reportValuesAndDescriptionHaveTheirOwnLimits();
};

void tst_DownloadedText::clean_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("limit");
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QString>("cleaned");

    const QString cut = QStringLiteral(u"…");
    const QString emoji = QStringLiteral(u"😀");
    QTest::newRow("plain text as it is")
        << QStringLiteral(u"红色") << 10 << Lines::One << QStringLiteral(u"红色");
    QTest::newRow("markup stays as its characters")
        << QStringLiteral("<img src=\"/dev/zero\">") << 100 << Lines::One
        << QStringLiteral("<img src=\"/dev/zero\">");
    QTest::newRow("at the limit, not cut")
        << QString(5, u'z') << 5 << Lines::One << QString(5, u'z');
    QTest::newRow("one past the limit is cut and marked")
        << QString(6, u'z') << 5 << Lines::One << QString(5, u'z') + cut;
    QTest::newRow("a million characters cut to the limit")
        << QString(1'000'000, u'z') << 1000 << Lines::One << QString(1000, u'z') + cut;
    QTest::newRow("emoji count as one character each")
        << emoji.repeated(5) << 5 << Lines::One << emoji.repeated(5);
    QTest::newRow("an emoji at the cut is not split")
        << QStringLiteral("ab") + emoji + u'c' << 3 << Lines::One
        << QStringLiteral("ab") + emoji + cut;
    QTest::newRow("a combining mark at the cut stays with its letter")
        << QStringLiteral(u"abe\u0301") << 3 << Lines::One << QStringLiteral("ab") + cut;
    QTest::newRow("NUL and escapes dropped, tab a space")
        << QStringLiteral(u"85\u0000%\u001b[2J\u007f\u0085\u009b\tok") << 100 << Lines::One
        << QStringLiteral(u"85%[2J  ok");
    QTest::newRow("dropped characters do not count")
        << QString(10, QChar(0)) + QStringLiteral("abc") << 3 << Lines::One
        << QStringLiteral("abc");
    QTest::newRow("line breaks become spaces on one line")
        << QStringLiteral(u"a\r\nb\u2028c") << 100 << Lines::One << QStringLiteral("a  b c");
    QTest::newRow("line breaks kept as LF where lines are")
        << QStringLiteral(u"a\r\nb\rc\u2029d") << 100 << Lines::Many
        << QStringLiteral("a\nb\nc\nd");
    QTest::newRow("an unclosed right-to-left override is dropped")
        << QStringLiteral(u"\u202e红色") << 100 << Lines::One << QStringLiteral(u"红色");
    QTest::newRow("every embedding, override and isolate is dropped")
        << QStringLiteral(u"\u202aa\u202bb\u202cc\u202dd\u202ee\u2066f\u2067g\u2068h\u2069") << 100
        << Lines::One << QStringLiteral("abcdefgh");
    QTest::newRow("marks that only lean stay") << QStringLiteral(u"a\u200fb\u200ec") << 100
                                               << Lines::One << QStringLiteral(u"a\u200fb\u200ec");
}

void tst_DownloadedText::clean()
{
    QFETCH(QString, text);
    QFETCH(int, limit);
    QFETCH(Lines, lines);
    QFETCH(QString, cleaned);
    QCOMPARE(DownloadedText::clean(text, limit, lines), cleaned);
}

void tst_DownloadedText::reportValuesAndDescriptionHaveTheirOwnLimits()
{
    FortuneReport report;
    report.overallStars = 3;
    report.healthIndex = QString(2000, u'h');
    report.negotiationIndex = QStringLiteral(u"70\u0000%");
    report.luckyColour = QStringLiteral("red\nblue");
    report.luckyNumber = QStringLiteral("7");
    report.matchingSign = QStringLiteral(u"\u202e天秤座");
    report.description = QString(20000, u'd') + u'\n';

    const FortuneReport cleaned = DownloadedText::cleaned(report);
    QCOMPARE(cleaned.overallStars, 3);
    QCOMPARE(cleaned.healthIndex, QString(1000, u'h') + QStringLiteral(u"…"));
    QCOMPARE(cleaned.negotiationIndex, QStringLiteral("70%"));
    QCOMPARE(cleaned.luckyColour, QStringLiteral("red blue"));
    QCOMPARE(cleaned.luckyNumber, QStringLiteral("7"));
    QCOMPARE(cleaned.matchingSign, QStringLiteral(u"天秤座"));
    QCOMPARE(cleaned.description, QString(10000, u'd') + QStringLiteral(u"…"));
}

QTEST_APPLESS_MAIN(tst_DownloadedText)
#include "tst_downloadedtext.moc"
