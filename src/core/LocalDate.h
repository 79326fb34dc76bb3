#pragma once

// Dates written as the person's desktop writes them.

#include <QDate>
#include <QString>

namespace LocalDate {

// A date in the system's short form for the person's locale (LC_TIME), as
// the C library writes it and `date +%x` prints it; yyyy-MM-dd under the
// C/POSIX locale, whose form (12/27/13) names no century.
QString shortText(QDate day);

} // namespace LocalDate
