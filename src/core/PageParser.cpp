#include "PageParser.h"

namespace PageParser {
namespace {

constexpr QStringView SectionMark = u"<h4>";
constexpr QStringView DivEnd = u"</div>";
constexpr QStringView StarName = u"star.gif";
constexpr QStringView ParagraphJoint = u"</p><";

struct DetailText
{
    QStringView marker;
    QStringView prefix;
};

constexpr DetailText Details[] = {
    {u"健康指数</h4><p>", u"健康指数:"}, {u"商谈指数</h4><p>", u"商谈指数:"},
    {u"幸运颜色</h4><p>", u"幸运颜色:"}, {u"幸运数字</h4><p>", u"幸运数字:"},
    {u"速配星座</h4><p>", u"速配星座:"},
};

const DetailText &textsOf(Detail detail)
{
    return Details[int(detail) - int(Detail::Health)];
}

// The first "<h4>" at or after `from`. A "4" is far rarer in a page than a
// "<", so hop from one "4" to the next with the vectorised single-character
// search and look around it; that beats a four-character string search.
qsizetype findSectionMark(QStringView page, qsizetype from)
{
    constexpr qsizetype FourAt = 2; // "<h4>"[2]
    for (qsizetype at = page.indexOf(u'4', from + FourAt); at >= 0;
         at = page.indexOf(u'4', at + 1)) {
        const qsizetype start = at - FourAt;
        if (page.sliced(start).startsWith(SectionMark))
            return start;
    }
    return -1;
}

// The text up to and including the "<" that opens the first "</div>";
// empty when there is none.
QStringView upToFirstDivEnd(QStringView text)
{
    const qsizetype end = text.indexOf(DivEnd);
    return end < 0 ? QStringView() : text.first(end + 1);
}

// The text with every occurrence of `what` taken out, in one pass.
QString removeAll(QStringView text, QStringView what)
{
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(what); at >= 0; at = text.indexOf(what, from)) {
        out.append(text.sliced(from, at - from));
        from = at + what.size();
    }
    out.append(text.sliced(from));
    return out;
}

} // namespace

Sections::Sections(QStringView page)
{
    qsizetype start = 0;
    while (m_sections.size() < LastSectionRead) {
        const qsizetype mark = findSectionMark(page, start);
        if (mark < 0) {
            m_sections.append(page.sliced(start));
            return;
        }
        m_sections.append(page.sliced(start, mark - start));
        start = mark + SectionMark.size();
    }
    // The last section read is only ever read up to its first "</div>": stop
    // there rather than look through the rest of the page for another "<h4>".
    const QStringView rest = page.sliced(start);
    const qsizetype divEnd = rest.indexOf(DivEnd);
    const QStringView head = divEnd < 0 ? rest : rest.first(divEnd + DivEnd.size());
    const qsizetype nextMark = head.indexOf(SectionMark);
    m_sections.append(nextMark < 0 ? head : head.first(nextMark));
}

int countStars(QStringView section)
{
    const QStringView region = upToFirstDivEnd(section);
    int count = 0;
    for (qsizetype at = region.indexOf(StarName); at >= 0; at = region.indexOf(StarName, at + 1))
        ++count;
    return count;
}

QStringView detailMarker(Detail detail)
{
    return textsOf(detail).marker;
}
QStringView detailPrefix(Detail detail)
{
    return textsOf(detail).prefix;
}

QString cutValue(QStringView section, Detail detail)
{
    const QStringView marker = detailMarker(detail);
    // A marker can never straddle a "</div>", so cutting the raw section just
    // past its first "</div>" and then removing the markers gives the same
    // text as removing them from the whole section first. Only when the raw
    // section has no "</div>" at all could the removal create one.
    const qsizetype end = section.indexOf(DivEnd);
    QString kept;
    if (end >= 0) {
        kept = removeAll(section.first(end + DivEnd.size()), marker);
    } else if (section.contains(marker)) {
        kept = removeAll(section, marker);
    } else {
        return {};
    }
    return removeAll(upToFirstDivEnd(kept), ParagraphJoint);
}

QStringView descriptionMarker()
{
    return u"<div class=\"lotconts\">";
}

QString cutDescription(QStringView page)
{
    const qsizetype start = page.indexOf(descriptionMarker());
    if (start < 0)
        return {};
    QString text = removeAll(upToFirstDivEnd(page.sliced(start)), descriptionMarker());
    text.remove(QLatin1Char('<'));
    return text;
}

FortuneReport parse(QStringView page)
{
    return parse(Sections(page), page);
}

FortuneReport parse(const Sections &sections, QStringView page)
{
    FortuneReport report;
    report.overallStars = countStars(sections.at(int(Aspect::Overall)));
    report.loveStars = countStars(sections.at(int(Aspect::Love)));
    report.workStars = countStars(sections.at(int(Aspect::Work)));
    report.financeStars = countStars(sections.at(int(Aspect::Finance)));
    report.healthIndex = cutValue(sections.at(int(Detail::Health)), Detail::Health);
    report.negotiationIndex = cutValue(sections.at(int(Detail::Negotiation)), Detail::Negotiation);
    report.luckyColour = cutValue(sections.at(int(Detail::Colour)), Detail::Colour);
    report.luckyNumber = cutValue(sections.at(int(Detail::Number)), Detail::Number);
    report.matchingSign = cutValue(sections.at(int(Detail::Matching)), Detail::Matching);
    report.description = cutDescription(page);
    return report;
}

int starsOf(const FortuneReport &report, Aspect aspect)
{
    switch (aspect) {
    case Aspect::Overall:
        return report.overallStars;
    case Aspect::Love:
        return report.loveStars;
    case Aspect::Work:
        return report.workStars;
    case Aspect::Finance:
        return report.financeStars;
    }
    return 0;
}

QString valueOf(const FortuneReport &report, Detail detail)
{
    switch (detail) {
    case Detail::Health:
        return report.healthIndex;
    case Detail::Negotiation:
        return report.negotiationIndex;
    case Detail::Colour:
        return report.luckyColour;
    case Detail::Number:
        return report.luckyNumber;
    case Detail::Matching:
        return report.matchingSign;
    }
    return {};
}

QString captionOf(const FortuneReport &report, Detail detail)
{
    return detailPrefix(detail) + valueOf(report, detail);
}

} // namespace PageParser
