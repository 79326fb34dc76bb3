#pragma once

#include <QString>
#include <QStringView>

// The fixed texts of the main window's shell: its caption and status line,
// the version check, the tool buttons and the exit prompt, kept together so
// the wording stays the same wherever it is shown.
namespace ShellTexts {

constexpr QStringView WindowCaption = u"澄川知微阁 V2";
constexpr QStringView StatusHeading = u"运行提示：";
constexpr QStringView CheckingForUpdates = u"程序检测更新中...";
constexpr QStringView CreditLine = u"阿澈原创作品";

constexpr QStringView MusicOnCaption = u"关闭音乐";  // music plays; a click stops it
constexpr QStringView MusicOffCaption = u"打开音乐"; // music stopped; a click starts it
constexpr QStringView FinderPrompt = u"本辅助可帮助您在不知道星座的情况下进行星座判断!";

constexpr QStringView ChooseYourSign = u"请选择您的星座查看运势..";
constexpr QStringView NewerVersionFound = u"发现新版本..";

constexpr QStringView NetworkFailed = u"检测网络失败!请您稍后再试";

constexpr QStringView NewerVersionTitle = u"暖暖提示";
constexpr QStringView NewerVersionBefore = u"发现最新版本![";
constexpr QStringView NewerVersionAfter = u"]确定后打开官方论坛!";

constexpr QStringView ExitThanks = u"感谢您对阿澈、对Kw系列软件、游戏的支持!";
constexpr QStringView ExitQuestion = u"是否退出并到论坛可以下载更多阿澈的原创免费软件?";
constexpr QStringView ExitSeparator = u"\n \n";

inline QString exitText()
{
    return ExitThanks.toString() + ExitSeparator + ExitQuestion;
}

} // namespace ShellTexts
