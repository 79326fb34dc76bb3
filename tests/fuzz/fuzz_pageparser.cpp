// Fuzzes the page cutting: every input, read as UTF-8 and again as raw
// UTF-16, must cut the same way as a slow copy of the rules written the plain
// way below, and must keep the promises the cut pieces make.

#include "core/PageParser.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using PageParser::Aspect;
using PageParser::Detail;

namespace {

// The rules as the site's page is described: split the whole text at every
// "<h4>", and cut each piece with plain QString calls. No shortcuts here; the
// fast cutting is what is under test.
namespace Plain {

const QString SectionMark = QStringLiteral("<h4>");
const QString DivEnd = QStringLiteral("</div>");
const QString StarName = QStringLiteral("star.gif");
const QString Joint = QStringLiteral("</p><");
const QString DescriptionMarker = QStringLiteral("<div class=\"lotconts\">");

// Up to and including the "<" that opens the first "</div>"; nothing without one.
QString upToDivEnd(const QString &text)
{
    const qsizetype end = text.indexOf(DivEnd);
    return end < 0 ? QString() : text.left(end + 1);
}

int stars(const QString &section)
{
    const QString region = upToDivEnd(section);
    int count = 0;
    for (qsizetype at = region.indexOf(StarName); at >= 0; at = region.indexOf(StarName, at + 1))
        ++count;
    return count;
}

// The value before its paragraph joints are taken out.
QString keptText(QString section, Detail detail)
{
    section.replace(PageParser::detailMarker(detail).toString(), QString());
    return upToDivEnd(section);
}

QString value(const QString &section, Detail detail)
{
    return keptText(section, detail).replace(Joint, QString());
}

QString description(const QString &page)
{
    const qsizetype start = page.indexOf(DescriptionMarker);
    if (start < 0)
        return {};
    QString text = upToDivEnd(page.mid(start));
    text.replace(DescriptionMarker, QString());
    text.remove(QLatin1Char('<'));
    return text;
}

FortuneReport parse(const QString &page)
{
    const QStringList sections = page.split(SectionMark);
    FortuneReport report;
    report.overallStars = stars(sections.value(1));
    report.loveStars = stars(sections.value(2));
    report.workStars = stars(sections.value(3));
    report.financeStars = stars(sections.value(4));
    report.healthIndex = value(sections.value(5), Detail::Health);
    report.negotiationIndex = value(sections.value(6), Detail::Negotiation);
    report.luckyColour = value(sections.value(7), Detail::Colour);
    report.luckyNumber = value(sections.value(8), Detail::Number);
    report.matchingSign = value(sections.value(9), Detail::Matching);
    report.description = description(page);
    return report;
}

} // namespace Plain

[[noreturn]] void fail(const char *what, const QString &page)
{
    std::fprintf(stderr, "fuzz_pageparser: %s\npage (%lld UTF-16 units): %s\n", what,
                 static_cast<long long>(page.size()), page.left(2000).toUtf8().constData());
    std::abort();
}

void require(bool holds, const char *what, const QString &page)
{
    if (!holds)
        fail(what, page);
}

// Removing the joints is one pass, as the site's rules remove them: a joint
// that the removal itself brings together stays. That needs a joint that
// directly follows the start of another one in the kept text.
bool removalCanFormJoint(const QString &kept)
{
    for (const char *pattern : {"<</p><", "</</p><", "</p</p><", "</p></p><"}) {
        if (kept.contains(QLatin1StringView(pattern)))
            return true;
    }
    return false;
}

void check(const QString &page)
{
    const PageParser::Sections sections(page);
    const FortuneReport report = PageParser::parse(page);
    require(report == PageParser::parse(sections, page), "parse(page) != parse(Sections(page))",
            page);

    // Sections: the pieces of a plain split, the last one read ending at its
    // first "</div>".
    const QStringList pieces = page.split(Plain::SectionMark);
    const qsizetype kept = std::min<qsizetype>(pieces.size(), PageParser::LastSectionRead + 1);
    require(sections.count() == kept, "section count differs from the split", page);
    for (int k = 0; k < sections.count(); ++k) {
        QString piece = pieces[k];
        if (k == PageParser::LastSectionRead) {
            const qsizetype end = piece.indexOf(Plain::DivEnd);
            if (end >= 0)
                piece.truncate(end + Plain::DivEnd.size());
        }
        require(sections.at(k) == piece, "a section differs from the split", page);
    }
    require(sections.at(sections.count()).isEmpty(), "a missing section is not empty", page);

    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        const int count = PageParser::countStars(sections.at(int(aspect)));
        require(count >= 0, "negative star count", page);
        require(count == PageParser::starsOf(report, aspect), "star count differs from parse",
                page);
    }
    for (Detail detail :
         {Detail::Health, Detail::Negotiation, Detail::Colour, Detail::Number, Detail::Matching}) {
        const QString value = PageParser::cutValue(sections.at(int(detail)), detail);
        require(value == PageParser::valueOf(report, detail), "value differs from parse", page);
        require(!value.contains(Plain::Joint) ||
                    removalCanFormJoint(Plain::keptText(pieces.value(int(detail)), detail)),
                "a value keeps a paragraph joint", page);
    }
    const QString description = PageParser::cutDescription(page);
    require(description == report.description, "description differs from parse", page);
    require(!description.contains(QLatin1Char('<')), "the description holds a <", page);

    require(report == Plain::parse(page), "parse differs from the plain rules", page);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto length = static_cast<qsizetype>(size);
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), length));

    // The same bytes as UTF-16 code units, lone surrogates and all.
    QString units(length / 2, Qt::Uninitialized);
    std::memcpy(units.data(), data, std::size_t(units.size()) * sizeof(QChar));
    check(units);
    return 0;
}
