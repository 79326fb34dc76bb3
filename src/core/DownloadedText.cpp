#include "DownloadedText.h"

#include <QTextBoundaryFinder>

namespace DownloadedText {
namespace {

bool isLineBreak(char32_t c)
{
    return c == u'\n' || c == u'\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// C0, DEL and C1.
bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// LRE, RLE, PDF, LRO, RLO and LRI, RLI, FSI, PDI: each can turn the text
// that follows it, the program's own words included, around.
bool isBidiControl(char32_t c)
{
    return (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// The largest grapheme boundary at or before `at`.
qsizetype wholeCharacterEnd(const QString &text, qsizetype at)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    graphemes.setPosition(at);
    if (graphemes.isAtBoundary())
        return at;
    const qsizetype previous = graphemes.toPreviousBoundary();
    return previous < 0 ? 0 : previous;
}

} // namespace

QString clean(QStringView text, qsizetype limit, Lines lines)
{
    QString out;
    out.reserve(std::min<qsizetype>(text.size(), 2 * limit + 2));
    qsizetype kept = 0;      // characters in out
    qsizetype limitEnd = -1; // out's length when it held `limit` characters
    bool afterReturn = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        // CR LF is one break between lines, two blanks on one line.
        const bool crlf = lines == Lines::Many && afterReturn && c == u'\n';
        afterReturn = c == u'\r';
        if (crlf || isBidiControl(c))
            continue;
        if (isLineBreak(c)) {
            out += lines == Lines::Many ? u'\n' : u' ';
        } else if (c == u'\t') {
            out += u' ';
        } else if (isControl(c)) {
            continue;
        } else {
            out += QStringView(QChar::fromUcs4(c));
        }
        if (++kept == limit)
            limitEnd = out.size();
        if (kept > limit) {
            // One character past the limit is enough to know where a whole
            // character ends.
            out.truncate(wholeCharacterEnd(out, limitEnd));
            return out + CutMark;
        }
    }
    return out;
}

FortuneReport cleaned(FortuneReport report)
{
    for (QString *value : {&report.healthIndex, &report.negotiationIndex, &report.luckyColour,
                           &report.luckyNumber, &report.matchingSign})
        *value = clean(*value, ValueLimit, Lines::One);
    report.description = clean(report.description, DescriptionLimit, Lines::Many);
    return report;
}

} // namespace DownloadedText
