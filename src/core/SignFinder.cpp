#include "SignFinder.h"

#include "SignTable.h"

namespace SignFinder {
namespace {

// The signs in the order the finder tries them, the first match winning,
// with the words its message ends in. The days are the sign table's.
struct Wording
{
    QStringView code;
    QStringView text;
};

constexpr Wording Wordings[] = {
    {u"sp", u"星座为水瓶座!"},
    {u"sy", u"星座为双鱼座!"},
    {u"my", u"星座为白羊座!"},
    {u"jn", u"星座为金牛座!"},
    {u"sz", u"星座为双子座!"},
    {u"jx", u"星座为巨蟹座!"},
    // This one has always been worded with a leading 的; people know it so.
    {u"zz", u"的星座为狮子座!"},
    {u"cv", u"星座为处女座!"},
    {u"tc", u"星座为天秤座!"},
    {u"tx", u"星座为天蝎座!"},
    {u"ss", u"星座为射手座!"},
    {u"mj", u"星座为摩羯座!"},
};

bool holds(const SignInfo &sign, int month, int day)
{
    return (month == sign.firstMonth && day >= sign.firstDay) ||
           (month == sign.lastMonth && day <= sign.lastDay);
}

} // namespace

const SignInfo *signForBirthday(int month, int day)
{
    // Day 0 or 32 would still pass one half of a test; no list offers them.
    if (day < 1 || day > daysInMonth(month))
        return nullptr;
    for (const Wording &wording : Wordings) {
        const SignInfo *sign = SignTable::byCode(wording.code);
        if (holds(*sign, month, day))
            return sign;
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
    QStringView text;
    for (const Wording &wording : Wordings) {
        if (wording.code == sign.code)
            text = wording.text;
    }
    return u"您的生日为:" + monthText + u"月" + QString::number(day) + u"日" + u"," + text;
}

} // namespace SignFinder
