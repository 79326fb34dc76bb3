#pragma once

#include <QString>
#include <QStringView>

struct SignInfo;

// The sign of a birthday, as the finder dialog works it out.
namespace SignFinder {

// The first sign whose days hold (month, day); nullptr when none does.
const SignInfo *signForBirthday(int month, int day);

// Length of a month's day list. February always has 29: someone born on a
// leap day must be able to find the sign too.
int daysInMonth(int month);

// "您的生日为:11月23日,星座为射手座!"
QString birthdayMessage(const QString &monthText, int day, const SignInfo &sign);

// What the finder asks for when the birthday is not chosen whole.
constexpr QStringView ChooseBirthday = u"请选择您的生日!";

} // namespace SignFinder
