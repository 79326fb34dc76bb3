// How fast a downloaded page is cut into a FortuneReport, against the floor
// of any cutting: one QString::indexOf pass over the same text.
#include "FortunePages.h"
#include "core/PageParser.h"
#include "core/SignTable.h"

#include <benchmark/benchmark.h>

namespace {

enum class Clutter { AfterFortune, BeforeFortune };

// A realistic page of about `size` characters: the service's page with more
// of the site's clutter, as news lists and comments, after the fortune block
// (as sites lay it out) or before it (the worst case: all of it is read).
QString pageOfSize(qsizetype size, Clutter where)
{
    const SignInfo &sign = *SignTable::bySlug(u"scorpio");
    QString page = FortunePages::pageForSlug(sign.slug, QDate(2026, 12, 7));
    const qsizetype end = where == Clutter::AfterFortune
                              ? page.lastIndexOf(QStringLiteral("</body>"))
                              : page.indexOf(QStringLiteral("<body"));
    const QString clutter = QStringLiteral(
        "<div class=\"news\"><a href=\"/astro/news/1234.html\">本周星座运势早知道：水逆过后，"
        "哪些星座迎来好运？</a><span class=\"date\">12-07</span></div>\n");
    QString filler;
    while (page.size() + filler.size() < size)
        filler += clutter;
    page.insert(end, filler);
    return page;
}

void cutPage(benchmark::State &state, qsizetype size, Clutter where)
{
    const QString page = pageOfSize(size, where);
    for (auto _ : state) {
        FortuneReport report = PageParser::parse(page);
        benchmark::DoNotOptimize(report);
    }
    state.SetBytesProcessed(state.iterations() * page.size() * qsizetype(sizeof(QChar)));
    state.counters["chars"] = double(page.size());
}

void singleScan(benchmark::State &state, qsizetype size, Clutter where)
{
    const QString page = pageOfSize(size, where);
    // A marker that is not in the page: the search has to read all of it.
    const QString absent = QStringLiteral("<h5 class=\"absent\">");
    for (auto _ : state) {
        qsizetype at = page.indexOf(absent);
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(state.iterations() * page.size() * qsizetype(sizeof(QChar)));
}

constexpr qsizetype RealisticPage = 60 * 1024;
constexpr qsizetype HugePage = 5 * 1024 * 1024;

} // namespace

BENCHMARK_CAPTURE(cutPage, page_60KB, RealisticPage, Clutter::AfterFortune);
BENCHMARK_CAPTURE(singleScan, page_60KB, RealisticPage, Clutter::AfterFortune);
BENCHMARK_CAPTURE(cutPage, page_5MB, HugePage, Clutter::AfterFortune);
BENCHMARK_CAPTURE(singleScan, page_5MB, HugePage, Clutter::AfterFortune);
BENCHMARK_CAPTURE(cutPage, page_60KB_clutter_first, RealisticPage, Clutter::BeforeFortune);
BENCHMARK_CAPTURE(singleScan, page_60KB_clutter_first, RealisticPage, Clutter::BeforeFortune);
BENCHMARK_CAPTURE(cutPage, page_5MB_clutter_first, HugePage, Clutter::BeforeFortune);
BENCHMARK_CAPTURE(singleScan, page_5MB_clutter_first, HugePage, Clutter::BeforeFortune);

BENCHMARK_MAIN();
