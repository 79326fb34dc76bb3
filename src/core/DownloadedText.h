#pragma once

#include "FortuneReport.h"

#include <QString>
#include <QStringView>

// Text that came from the network, made fit to show: it is shown and copied
// as the characters it holds, never as markup, and nothing in it can reach
// past it. Control characters are dropped (a tab becomes a space; line
// breaks are kept only where the text may hold lines), bidirectional
// embeddings, overrides and isolates are dropped, and an overlong text is
// cut at a whole character and marked with "…".
namespace DownloadedText {

// A page's short values hold a few characters; its description a few dozen.
inline constexpr qsizetype ValueLimit = 1000;
inline constexpr qsizetype DescriptionLimit = 10000;
inline constexpr QStringView CutMark = u"…";

enum class Lines {
    One,  // line breaks become spaces
    Many, // line breaks are kept, as "\n"
};

// At most `limit` characters of the text (code points, never splitting a
// character that is drawn as one), followed by CutMark when it was longer.
// Only as much of the text is read as the result needs.
QString clean(QStringView text, qsizetype limit, Lines lines);

// The report with every value and the description cleaned.
FortuneReport cleaned(FortuneReport report);

} // namespace DownloadedText
