#include "SignFinder.h"

#include "fortune/SignTable.h"

namespace SignFinder {
namespace {

// Each sign starts in one month and ends in the next; both bounds are inside
// the sign. The rows are tried in this order and the first match wins.
struct Span
{
    QStringView name;
    int firstMonth;
    int firstDay;
    int lastMonth;
    int lastDay;
    QStringView text;
};

constexpr Span Spans[] = {
    {u"水瓶座", 1, 20, 2, 18, u"星座为水瓶座!"},
    {u"双鱼座", 2, 19, 3, 20, u"星座为双鱼座!"},
    {u"白羊座", 3, 21, 4, 19, u"星座为白羊座!"},
    {u"金牛座", 4, 20, 5, 20, u"星座为金牛座!"},
    {u"双子座", 5, 21, 6, 21, u"星座为双子座!"},
    {u"巨蟹座", 6, 22, 7, 22, u"星座为巨蟹座!"},
    // This one has always been worded with a leading 的; people know it so.
    {u"狮子座", 7, 23, 8, 22, u"的星座为狮子座!"},
    {u"处女座", 8, 23, 9, 22, u"星座为处女座!"},
    {u"天秤座", 9, 23, 10, 23, u"星座为天秤座!"},
    {u"天蝎座", 10, 24, 11, 22, u"星座为天蝎座!"},
    {u"射手座", 11, 23, 12, 21, u"星座为射手座!"},
    {u"摩羯座", 12, 22, 1, 19, u"星座为摩羯座!"},
};

bool holds(const Span &span, int month, int day)
{
    return (month == span.firstMonth && day >= span.firstDay) ||
           (month == span.lastMonth && day <= span.lastDay);
}

const Span *spanOf(const SignInfo &sign)
{
    for (const Span &span : Spans) {
        if (span.name == sign.name)
            return &span;
    }
    return nullptr;
}

} // namespace

const SignInfo *signForBirthday(int month, int day)
{
    // Day 0 or 32 would still pass one half of a test; no list offers them.
    if (day < 1 || day > daysInMonth(month))
        return nullptr;
    for (const Span &span : Spans) {
        if (holds(span, month, day))
            return SignTable::byName(span.name);
    }
    return nullptr;
}

int daysInMonth(int month)
{
    switch (month) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12:
        return 31;
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    case 2:
        return 29;
    default:
        return 0;
    }
}

QString birthdayMessage(const QString &monthText, int day, const SignInfo &sign)
{
    const Span *span = spanOf(sign);
    const QString text = span ? span->text.toString() : QString();
    return u"您的生日为:" + monthText + u"月" + QString::number(day) + u"日" + u"," + text;
}

} // namespace SignFinder
