#pragma once

#include <QStringView>

// The fixed texts of sharing, in one place.
namespace ShareTexts {

// The share menu.
constexpr QStringView CopyItem = u"复制当前星座运势";
constexpr QStringView CaptureItem = u"截图当前星座运势";

// The copied report: its star lines, and the closing sentence before the
// maker's forum address.
constexpr QStringView OverallLine = u"综合运势:";
constexpr QStringView LoveLine = u"爱情运势:";
constexpr QStringView WorkLine = u"工作状况:";
constexpr QStringView FinanceLine = u"理财投资:";
constexpr QStringView StarsTail = u"颗星";
constexpr QStringView FooterBefore = u"本信息由澄川知微阁提供!官方论坛:";

// The answers of a copy and a capture.
constexpr QStringView CopiedTail = u"已复制!"; // after the sign and the day
constexpr QStringView NoSignOnShow = u"请先选择您要查询的星座,再进行复制!";
constexpr QStringView ClipboardRefused = u"复制失败!剪贴板正被其他程序占用,请稍后再试!";
constexpr QStringView PictureCopied = u"恭喜!运势已截图到剪贴板!直接粘贴到有需要的地方即可!";
constexpr QStringView CaptureFailed = u"截图失败!无法取得窗口画面,请稍后再试!";

// The screenshot window.
constexpr QStringView ScreenshotCaption = u"截图窗口";
constexpr QStringView ScreenshotOk = u"确定";

} // namespace ShareTexts
