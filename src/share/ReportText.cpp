#include "ReportText.h"

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

} // namespace ReportText
