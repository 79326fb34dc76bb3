#pragma once

#include <QStringView>

// The fixed texts of the share menu and the picture window, in one place.
namespace ShareTexts {

// The share menu.
constexpr QStringView CopyItem = u"复制当前星座运势";
constexpr QStringView CaptureItem = u"截图当前星座运势";

// The answers of a copy and a capture.
constexpr QStringView NoSignOnShow = u"请先选择您要查询的星座,再进行复制!";
constexpr QStringView ClipboardRefused = u"复制失败!剪贴板正被其他程序占用,请稍后再试!";
constexpr QStringView PictureCopied = u"恭喜!运势已截图到剪贴板!直接粘贴到有需要的地方即可!";
constexpr QStringView CaptureFailed = u"截图失败!无法取得窗口画面,请稍后再试!";

// The picture window.
constexpr QStringView ScreenshotCaption = u"截图窗口";
constexpr QStringView ScreenshotOk = u"确定";

} // namespace ShareTexts
