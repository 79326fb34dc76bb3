#pragma once

#include <QString>
#include <QUrl>

namespace ReportText {

// The closing sentence of a copied fortune: the source and the maker's forum,
// written in full with its scheme in capitals and a closing slash.
QString footerText(const QUrl &makerForum);

} // namespace ReportText
