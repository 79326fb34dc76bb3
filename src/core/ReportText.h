#pragma once

// The text of a copied fortune and of the prompt that confirms the copy.

#include <QString>
#include <QUrl>

#include <array>

struct FortuneReport;

namespace ReportText {

// The fortune as the main window shows it at the moment of copying: the
// report repeats the panel, not whatever page was downloaded last.
struct ShownFortune
{
    QString signName; // 白羊座 ...
    QString modeText; // 今日运势 or 明日运势
    int overallStars = 0;
    int loveStars = 0;
    int workStars = 0;
    int financeStars = 0;
    std::array<QString, 6> captions; // Label5..Label10, as they stand
};

// The panel's fortune: a page's report under the sign's name and the day's words.
ShownFortune shownFortune(const FortuneReport &fortune, const QString &signName,
                          const QString &modeText);

// The closing sentence of a copied fortune: the source and the maker's forum,
// written in full with its scheme in capitals and a closing slash.
QString footerText(const QUrl &makerForum);

// The copied fortune: fifteen lines joined by CR LF, none after the last.
QString build(const ShownFortune &shown, const QString &dateText, const QString &footerText);

// The confirmation of a copy: "天蝎座今日运势已复制!".
QString copiedMessage(const QString &signName, const QString &modeText);

} // namespace ReportText
