#include "DateRules.h"

#include "SignInfo.h"

namespace DateRules {

QString tomorrowDate(QDate day)
{
    return day.addDays(1).toString(u"yyyyMMdd");
}

QUrl pageAddress(const QUrl &base, const SignInfo &sign, DayMode mode, QDate today)
{
    QString path = base.path();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    path += QStringLiteral("/astro/view/");
    path.append(sign.slug);
    path += QStringLiteral("/day/");
    if (mode == DayMode::Tomorrow)
        path += tomorrowDate(today);
    QUrl address = base;
    address.setPath(path);
    return address;
}

} // namespace DateRules
