#include "LocalDate.h"

#include <clocale>
#include <cstring>
#include <ctime>

namespace LocalDate {

QString shortText(QDate day)
{
    const char *locale = std::setlocale(LC_TIME, nullptr);
    const bool plainC = !locale || std::strcmp(locale, "C") == 0 ||
                        std::strcmp(locale, "POSIX") == 0 || std::strncmp(locale, "C.", 2) == 0;
    if (plainC || !day.isValid())
        return day.toString(u"yyyy-MM-dd");
    std::tm date{};
    date.tm_year = day.year() - 1900;
    date.tm_mon = day.month() - 1;
    date.tm_mday = day.day();
    date.tm_wday = day.dayOfWeek() % 7;
    date.tm_yday = day.dayOfYear() - 1;
    char text[128];
    const size_t length = std::strftime(text, sizeof text, "%x", &date);
    if (length == 0)
        return day.toString(u"yyyy-MM-dd");
    return QString::fromLocal8Bit(text, qsizetype(length));
}

} // namespace LocalDate
