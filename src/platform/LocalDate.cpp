#include "LocalDate.h"

namespace LocalDate {

QString shortText(QDate day, const QLocale &locale)
{
    if (locale.language() == QLocale::C)
        return day.toString(u"yyyy-MM-dd");
    return locale.toString(day, QLocale::ShortFormat);
}

} // namespace LocalDate
