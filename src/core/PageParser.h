#pragma once

#include "FortuneReport.h"

#include <QList>
#include <QString>
#include <QStringView>

// Cuts a fortune page apart with the site's fixed text markers. The page is
// plain text, never an HTML tree; every search is exact and case-sensitive.
//
// The page is cut at every "<h4>" into sections numbered from 0. Sections 1..4
// hold the star ratings, 5..9 the five short values, and the description sits
// in the first <div class="lotconts"> anywhere in the page.
namespace PageParser {

// The four star aspects, numbered by the section that holds them.
enum class Aspect { Overall = 1, Love = 2, Work = 3, Finance = 4 };

// The five short values, numbered by the section that holds them.
enum class Detail { Health = 5, Negotiation = 6, Colour = 7, Number = 8, Matching = 9 };
// The five in the order the panel shows them and the report copies them.
inline constexpr Detail Details[] = {Detail::Health, Detail::Negotiation, Detail::Colour,
                                     Detail::Number, Detail::Matching};

inline constexpr int LastSectionRead = 9;

// The sections a page is cut into; views into the page text, which must
// outlive them. Only sections 0..LastSectionRead are kept: nothing later is
// read. The last of them is only ever read up to its first "</div>", so it is
// kept up to there (or to its end, when it has none).
class Sections
{
public:
    explicit Sections(QStringView page);

    // Number of sections found (at most LastSectionRead + 1).
    int count() const { return int(m_sections.size()); }
    bool has(int k) const { return k >= 0 && k < count(); }
    // Section k, or an empty view when the page has no such section.
    QStringView at(int k) const { return has(k) ? m_sections[k] : QStringView(); }
    // True when the page holds at least one "<h4>".
    bool hasAnyHeading() const { return count() > 1; }

private:
    QList<QStringView> m_sections;
};

// Occurrences of "star.gif" in the section before its first "</div>";
// overlapping matches count, longer names ending in it count, none when the
// section has no "</div>".
int countStars(QStringView section);

// The marker text removed from a detail section, e.g. "健康指数</h4><p>".
QStringView detailMarker(Detail detail);
// The caption prefix of a detail label, e.g. "健康指数:" (ASCII colon).
QStringView detailPrefix(Detail detail);
// The value of a detail section: the marker removed everywhere, the text cut
// just after the "<" that opens the first "</div>" (so the value keeps that
// "<"; nothing when there is no "</div>"), every "</p><" removed.
QString cutValue(QStringView section, Detail detail);

// The description marker, <div class="lotconts">.
QStringView descriptionMarker();
// The text of the first description block in the page: cut before its first
// "</div>" (nothing without one), the marker and every "<" removed. Empty when
// the page has no description block.
QString cutDescription(QStringView page);

// The whole report of a page, cutting it once.
FortuneReport parse(QStringView page);
FortuneReport parse(const Sections &sections, QStringView page);

int starsOf(const FortuneReport &report, Aspect aspect);
QString valueOf(const FortuneReport &report, Detail detail);
// A detail's caption as the panel shows it: "健康指数:85%".
QString captionOf(const FortuneReport &report, Detail detail);

} // namespace PageParser
