#pragma once

#include "DayMode.h"

#include <QStringView>

// The fixed texts of a query, in one place. In every tail "..." is three
// ASCII full stops; the switch texts end in two.
namespace FortuneTexts {

// After fetchName: a download under way.
constexpr QStringView fetchingTail(DayMode mode)
{
    return mode == DayMode::Today ? u"今日运势获取中..." : u"明日运势获取中...";
}
// After name: the fortune on show.
constexpr QStringView doneTail(DayMode mode)
{
    return mode == DayMode::Today ? u"今日运势获取完毕..." : u"明日运势获取完毕...";
}
// After name: no fortune came.
constexpr QStringView failedTail(DayMode mode)
{
    return mode == DayMode::Today ? u"今日运势获取失败..." : u"明日运势获取失败...";
}

// What the copied report says the fortune covers.
constexpr QStringView modeText(DayMode mode)
{
    return mode == DayMode::Today ? u"今日运势" : u"明日运势";
}
// The day-mode button offers the other day.
constexpr QStringView dayButtonCaption(DayMode mode)
{
    return mode == DayMode::Today ? u"明日运势" : u"今日运势";
}
// The status line after switching to the mode.
constexpr QStringView switchedText(DayMode mode)
{
    return mode == DayMode::Today ? u"已切换今日星座运势查询.." : u"已切换明日星座运势查询..";
}

} // namespace FortuneTexts
