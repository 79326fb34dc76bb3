#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

namespace LocalDate {

// A date in the locale's short form; yyyy-MM-dd under the C/POSIX locale,
// which has no form of its own worth showing.
QString shortText(QDate day, const QLocale &locale = QLocale::system());

} // namespace LocalDate
