#include "SignTable.h"

#include "FortuneTexts.h"

#include <algorithm>

namespace SignTable {
namespace {

constexpr std::array<SignInfo, SignCount> Rows{{
    // index button name fetchName code slug first month/day last month/day
    // picture checkOrder
    {1, u"Command1", u"白羊座", u"白羊座", u"my", u"aries", 3, 21, 4, 19, u"imy", 1},
    {2, u"Command2", u"金牛座", u"金牛座", u"jn", u"taurus", 4, 20, 5, 20, u"ijn", 3},
    {3, u"Command3", u"双子座", u"双子座", u"sz", u"gemini", 5, 21, 6, 21, u"isz", 2},
    {4, u"Command4", u"巨蟹座", u"巨蟹座", u"jx", u"cancer", 6, 22, 7, 22, u"ijx", 4},
    {5, u"Command5", u"狮子座", u"狮子座", u"zz", u"leo", 7, 23, 8, 22, u"izz", 5},
    {6, u"Command6", u"处女座", u"处女座", u"cv", u"virgo", 8, 23, 9, 22, u"icv", 6},
    {7, u"Command7", u"天秤座", u"天秤座", u"tc", u"libra", 9, 23, 10, 23, u"itc", 7},
    {8, u"Command8", u"天蝎座", u"天蝎座", u"tx", u"scorpio", 10, 24, 11, 22, u"itx", 8},
    {9, u"Command9", u"射手座", u"射手座", u"ss", u"sagittarius", 11, 23, 12, 21, u"iss", 9},
    {10, u"Command10", u"摩羯座", u"摩羯座", u"mj", u"capricorn", 12, 22, 1, 19, u"imj", 10},
    {11, u"Command11", u"水瓶座", u"水瓶", u"sp", u"aquarius", 1, 20, 2, 18, u"isp", 11},
    {12, u"Command12", u"双鱼座", u"双鱼座", u"sy", u"pisces", 2, 19, 3, 20, u"isy", 12},
}};

template <typename Field> const SignInfo *findBy(Field field, QStringView value)
{
    const auto it = std::find_if(Rows.begin(), Rows.end(),
                                 [&](const SignInfo &row) { return row.*field == value; });
    return it == Rows.end() ? nullptr : &*it;
}

} // namespace

const std::array<SignInfo, SignCount> &all()
{
    return Rows;
}

const SignInfo *byIndex(int index)
{
    return index >= 1 && index <= SignCount ? &Rows[index - 1] : nullptr;
}

const SignInfo *byCode(QStringView code)
{
    return findBy(&SignInfo::code, code);
}
const SignInfo *byName(QStringView name)
{
    return findBy(&SignInfo::name, name);
}
const SignInfo *bySlug(QStringView slug)
{
    return findBy(&SignInfo::slug, slug);
}

const std::array<const SignInfo *, SignCount> &inCheckOrder()
{
    static const std::array<const SignInfo *, SignCount> ordered = [] {
        std::array<const SignInfo *, SignCount> rows{};
        for (const SignInfo &row : Rows)
            rows[row.checkOrder - 1] = &row;
        return rows;
    }();
    return ordered;
}

QString fetchingText(const SignInfo &sign, DayMode mode)
{
    return sign.fetchName + FortuneTexts::fetchingTail(mode);
}

QString doneText(const SignInfo &sign, DayMode mode)
{
    return sign.name + FortuneTexts::doneTail(mode);
}

QString failedText(const SignInfo &sign, DayMode mode)
{
    return sign.name + FortuneTexts::failedTail(mode);
}

} // namespace SignTable
