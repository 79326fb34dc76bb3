#pragma once

#include <QString>
#include <QStringView>

// One zodiac sign's fixed data. Everything that differs from sign to sign
// lives in these rows and nowhere else.
struct SignInfo
{
    int index;             // 1..12: place in the row of sign buttons, 白羊座 first
    QStringView button;    // the sign's button on the main window, Command1..Command12
    QStringView name;      // 白羊座 ... ; button caption, Label11, the done texts
    QStringView fetchName; // opens the fetching texts; 水瓶 has no 座 here
    QStringView code;      // two letters naming the sign (my, jn, ...): the finder's wording
    QStringView slug;      // path segment of the fortune page
    // The sign's days: from firstMonth/firstDay to lastMonth/lastDay, both
    // inside the sign; each sign starts in one month and ends in the next.
    int firstMonth;
    int firstDay;
    int lastMonth;
    int lastDay;
    QStringView picture; // the hidden image control holding the sign's picture
    int checkOrder;      // the order in which completion looks at pending signs

    // "MM/DD-MM/DD", as the panel shows it.
    QString dateRange() const
    {
        return QStringLiteral("%1/%2-%3/%4")
            .arg(firstMonth, 2, 10, QLatin1Char('0'))
            .arg(firstDay, 2, 10, QLatin1Char('0'))
            .arg(lastMonth, 2, 10, QLatin1Char('0'))
            .arg(lastDay, 2, 10, QLatin1Char('0'));
    }
};
