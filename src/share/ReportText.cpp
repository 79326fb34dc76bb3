#include "ReportText.h"

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
    return u"本信息由澄川知微阁提供!官方论坛:" + address;
}

QString build(const ShownFortune &shown, const QString &dateText, const QString &footerText)
{
    const auto stars = [](QStringView aspect, int count) -> QString {
        return aspect + QString::number(count) + u"颗星";
    };
    // Pasted into Windows programs too, hence CR LF.
    const QStringList lines = {
        shown.signName + shown.modeText,
        u"[" + dateText + u"]:",
        stars(u"综合运势:", shown.overallStars),
        stars(u"爱情运势:", shown.loveStars),
        stars(u"工作状况:", shown.workStars),
        stars(u"理财投资:", shown.financeStars),
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
    return signName + modeText + u"已复制!";
}

QString noSignOnShowMessage()
{
    return QStringLiteral("请先选择您要查询的星座,再进行复制!");
}

QString clipboardRefusedMessage()
{
    return QStringLiteral("复制失败!剪贴板正被其他程序占用,请稍后再试!");
}

} // namespace ReportText
