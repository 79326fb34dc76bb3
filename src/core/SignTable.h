#pragma once

// The twelve signs and how each is looked up, and the status texts of a query.

#include "DayMode.h"
#include "SignInfo.h"

#include <QString>

#include <array>

namespace SignTable {

inline constexpr int SignCount = 12;

// The twelve rows in button order (index 1 first).
const std::array<SignInfo, SignCount> &all();

// nullptr when there is no such sign.
const SignInfo *byIndex(int index);
const SignInfo *byCode(QStringView code);
const SignInfo *byName(QStringView name);
const SignInfo *bySlug(QStringView slug);

// The rows in the order the completion examines pending signs.
const std::array<const SignInfo *, SignCount> &inCheckOrder();

// Status line texts of a query.
QString fetchingText(const SignInfo &sign, DayMode mode);
QString doneText(const SignInfo &sign, DayMode mode);
QString failedText(const SignInfo &sign, DayMode mode);

// Position of the row in all() (0..11).
inline int position(const SignInfo &sign)
{
    return sign.index - 1;
}

} // namespace SignTable
