#pragma once

#include <QStringView>

namespace FortunePages {

// The signs as the site files them. Kept apart from the program's own table
// on purpose: the site is someone else's, and a slip in either list should
// show up as a failing test, not be copied into both.
struct SiteSign
{
    QStringView slug;
    QStringView name;
    QStringView dates;
    QStringView element; // 四象
    QStringView ruler;   // 守护星
    QStringView stone;   // 幸运石
};

inline constexpr SiteSign Signs[] = {
    {u"aries", u"白羊座", u"3月21日-4月19日", u"火象", u"火星", u"红宝石"},
    {u"taurus", u"金牛座", u"4月20日-5月20日", u"土象", u"金星", u"翡翠"},
    {u"gemini", u"双子座", u"5月21日-6月21日", u"风象", u"水星", u"玛瑙"},
    {u"cancer", u"巨蟹座", u"6月22日-7月22日", u"水象", u"月亮", u"珍珠"},
    {u"leo", u"狮子座", u"7月23日-8月22日", u"火象", u"太阳", u"琥珀"},
    {u"virgo", u"处女座", u"8月23日-9月22日", u"土象", u"水星", u"蓝宝石"},
    {u"libra", u"天秤座", u"9月23日-10月23日", u"风象", u"金星", u"蛋白石"},
    {u"scorpio", u"天蝎座", u"10月24日-11月22日", u"水象", u"冥王星", u"黄玉"},
    {u"sagittarius", u"射手座", u"11月23日-12月21日", u"火象", u"木星", u"绿松石"},
    {u"capricorn", u"摩羯座", u"12月22日-1月19日", u"土象", u"土星", u"石榴石"},
    {u"aquarius", u"水瓶座", u"1月20日-2月18日", u"风象", u"天王星", u"紫水晶"},
    {u"pisces", u"双鱼座", u"2月19日-3月20日", u"水象", u"海王星", u"海蓝宝"},
};

inline const SiteSign *signBySlug(QStringView slug)
{
    for (const SiteSign &sign : Signs) {
        if (sign.slug == slug)
            return &sign;
    }
    return nullptr;
}

} // namespace FortunePages
