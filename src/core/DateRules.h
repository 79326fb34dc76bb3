#pragma once

// The address of a sign's page for today or tomorrow, and the tomorrow date in it.

#include "DayMode.h"

#include <QDate>
#include <QString>
#include <QUrl>

struct SignInfo;

namespace DateRules {

// The day after `day` as eight digits, yyyyMMdd ("20131228").
QString tomorrowDate(QDate day);

// The address of a sign's fortune page: <base>/astro/view/<slug>/day/, with
// the tomorrow date appended straight after the last "/" for a tomorrow query.
QUrl pageAddress(const QUrl &base, const SignInfo &sign, DayMode mode, QDate today);

} // namespace DateRules
