#include "ReportText.h"

#include "ShareTexts.h"

#include <QStringList>

namespace ReportText {

QString footerText(const QUrl &makerForum)
{
    QString address = makerForum.toString(QUrl::FullyEncoded);
    const qsizetype schemeEnd = address.indexOf(u"://");
    if (schemeEnd > 0)
        address.replace(0, schemeEnd, address.left(schemeEnd).toUpper());
    if (!address.endsWith(u'/'))
        address += u'/';
    return ShareTexts::FooterBefore + address;
}

QString build(const ShownFortune &shown, const QString &dateText, const QString &footerText)
{
    const auto stars = [](QStringView aspect, int count) -> QString {
        return aspect + QString::number(count) + ShareTexts::StarsTail;
    };
    // Pasted into Windows programs too, hence CR LF.
    const QStringList lines = {
        shown.signName + shown.modeText,
        u"[" + dateText + u"]:",
        stars(ShareTexts::OverallLine, shown.overallStars),
        stars(ShareTexts::LoveLine, shown.loveStars),
        stars(ShareTexts::WorkLine, shown.workStars),
        stars(ShareTexts::FinanceLine, shown.financeStars),
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
    return signName + modeText + ShareTexts::CopiedTail;
}

} // namespace ReportText
