#include "ReportText.h"

#include "FortuneReport.h"
#include "PageParser.h"

#include <QStringList>

namespace ReportText {
namespace {

// The report's star lines and the sentence before the maker's forum address.
constexpr QStringView OverallLine = u"综合运势:";
constexpr QStringView LoveLine = u"爱情运势:";
constexpr QStringView WorkLine = u"工作状况:";
constexpr QStringView FinanceLine = u"理财投资:";
constexpr QStringView StarsTail = u"颗星";
constexpr QStringView FooterBefore = u"本信息由澄川知微阁提供!官方论坛:";
constexpr QStringView CopiedTail = u"已复制!"; // after the sign and the day

} // namespace

ShownFortune shownFortune(const FortuneReport &fortune, const QString &signName,
                          const QString &modeText)
{
    ShownFortune shown;
    shown.signName = signName;
    shown.modeText = modeText;
    shown.overallStars = fortune.overallStars;
    shown.loveStars = fortune.loveStars;
    shown.workStars = fortune.workStars;
    shown.financeStars = fortune.financeStars;
    for (size_t i = 0; i < std::size(PageParser::Details); ++i)
        shown.captions[i] = PageParser::captionOf(fortune, PageParser::Details[i]);
    shown.captions[5] = fortune.description;
    return shown;
}

QString footerText(const QUrl &makerForum)
{
    QString address = makerForum.toString(QUrl::FullyEncoded);
    const qsizetype schemeEnd = address.indexOf(u"://");
    if (schemeEnd > 0)
        address.replace(0, schemeEnd, address.left(schemeEnd).toUpper());
    if (!address.endsWith(u'/'))
        address += u'/';
    return FooterBefore + address;
}

QString build(const ShownFortune &shown, const QString &dateText, const QString &footerText)
{
    const auto stars = [](QStringView aspect, int count) -> QString {
        return aspect + QString::number(count) + StarsTail;
    };
    // Pasted into Windows programs too, hence CR LF.
    const QStringList lines = {
        shown.signName + shown.modeText,
        u"[" + dateText + u"]:",
        stars(OverallLine, shown.overallStars),
        stars(LoveLine, shown.loveStars),
        stars(WorkLine, shown.workStars),
        stars(FinanceLine, shown.financeStars),
        shown.captions[0],
        shown.captions[1],
        shown.captions[2],
        shown.captions[3],
        shown.captions[4],
        QStringLiteral(" "),
        shown.captions[5],
        QStringLiteral(" "),
        footerText,
    };
    return lines.join(QStringLiteral("\r\n"));
}

QString copiedMessage(const QString &signName, const QString &modeText)
{
    return signName + modeText + CopiedTail;
}

} // namespace ReportText
