#pragma once

#include <QStringView>

// One zodiac sign's fixed data. Everything that differs from sign to sign
// lives in these rows and nowhere else.
struct SignInfo
{
    int index;              // 1..12: place in the row of sign buttons, 白羊座 first
    QStringView button;     // the sign's button on the main window, Command1..Command12
    QStringView name;       // 白羊座 ... ; button caption, Label11, the done texts
    QStringView fetchName;  // opens the fetching texts; 水瓶 has no 座 here
    QStringView code;       // two letters; prefix of the per-sign procedures
    QStringView dispatcher; // the main window's entry point for this sign (bydj, jndj, ...)
    QStringView slug;       // path segment of the fortune page
    QStringView dateRange;  // "MM/DD-MM/DD", shown as stored, never parsed
    QStringView picture;    // the hidden image control holding the sign's picture
    int checkOrder;         // the order in which completion looks at pending signs
};
