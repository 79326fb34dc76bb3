#pragma once

#include <QString>

// What one parsed fortune page yields for one sign.
struct FortuneReport
{
    int overallStars = 0; // 综合运势
    int loveStars = 0;    // 爱情运势
    int workStars = 0;    // 工作状况
    int financeStars = 0; // 理财投资

    QString healthIndex;      // 健康指数, as the page writes it ("85%")
    QString negotiationIndex; // 商谈指数
    QString luckyColour;      // 幸运颜色
    QString luckyNumber;      // 幸运数字
    QString matchingSign;     // 速配星座
    QString description;

    friend bool operator==(const FortuneReport &, const FortuneReport &) = default;
};
