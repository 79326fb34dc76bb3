#include "QueryFlow.h"

#include "DateRules.h"
#include "DownloadedText.h"
#include "FortuneTexts.h"
#include "net/PageFetcher.h"
#include "PageParser.h"

#include <QTimer>

QueryFlow::QueryFlow(PageFetcher *fetcher, QUrl fortuneBase, std::function<QDateTime()> clock,
                     QObject *parent)
    : QObject(parent)
    , m_fetcher(fetcher)
    , m_fortuneBase(std::move(fortuneBase))
    , m_clock(clock ? std::move(clock) : qOverload<>(&QDateTime::currentDateTime))
    , m_todayCompletion(new QTimer(this))
    , m_tomorrowCompletion(new QTimer(this))
{
    setObjectName(QStringLiteral("QueryFlow"));
    // Named as the description knows them.
    m_todayCompletion->setObjectName(QStringLiteral("Timer1"));
    m_tomorrowCompletion->setObjectName(QStringLiteral("Timer4"));
    setCompletionDelay(CompletionDelay);
    connect(m_todayCompletion, &QTimer::timeout, this,
            [this] { completionTick(m_todayCompletion, DayMode::Today); });
    connect(m_tomorrowCompletion, &QTimer::timeout, this,
            [this] { completionTick(m_tomorrowCompletion, DayMode::Tomorrow); });
}

QueryFlow::~QueryFlow()
{
    cancel();
}

void QueryFlow::setCompletionDelay(std::chrono::milliseconds delay)
{
    m_todayCompletion->setInterval(delay);
    m_tomorrowCompletion->setInterval(delay);
}

void QueryFlow::switchMode()
{
    m_mode = m_mode == DayMode::Today ? DayMode::Tomorrow : DayMode::Today;
    emit statusChanged(FortuneTexts::switchedText(m_mode).toString());
    emit modeChanged(m_mode);
}

const FortuneReport &QueryFlow::report(const SignInfo &sign) const
{
    return m_reports[SignTable::position(sign)];
}

bool QueryFlow::pendingFlag(const SignInfo &sign) const
{
    return m_pending[SignTable::position(sign)];
}

void QueryFlow::clearReports()
{
    m_reports.fill(FortuneReport{});
}

void QueryFlow::query(const SignInfo &sign)
{
    const DayMode mode = m_mode;
    // The latest click wins: a query still under way is dropped and its page
    // is never shown, so the panel always shows one sign with its own page.
    cancel();
    m_started = true;
    clearReports();
    // The tomorrow of the moment of the click, not of the start: a window left
    // open past midnight still asks for the right day.
    const QUrl address = DateRules::pageAddress(m_fortuneBase, sign, mode, m_clock().date());
    emit statusChanged(SignTable::fetchingText(sign, mode));

    FetchReply *reply = m_fetcher->fetch(address);
    m_fetch = reply;
    connect(reply, &FetchReply::finished, this,
            [this, &sign, mode](const FetchResult &result) { pageArrived(sign, mode, result); });
}

void QueryFlow::pageArrived(const SignInfo &sign, DayMode mode, const FetchResult &result)
{
    m_fetch = nullptr;
    // An error page, a refused connection or a page without a single section
    // is no fortune: what is on show stays, and the status says so.
    if (!result.ok() || !PageParser::Sections(result.text).hasAnyHeading()) {
        emit statusChanged(SignTable::failedText(sign, mode));
        emit failed(sign, result);
        return;
    }
    storePage(sign, mode, result.text);
}

void QueryFlow::storePage(const SignInfo &sign, DayMode mode, const QString &page)
{
    m_storedMode = mode;
    m_page = page;
    startCompletion();
    m_pending[SignTable::position(sign)] = true;
    emit pageStored(sign);
}

void QueryFlow::cancel()
{
    if (m_fetch)
        m_fetch->abort();
    m_fetch = nullptr;
    m_pending.fill(false);
    m_todayCompletion->stop();
    m_tomorrowCompletion->stop();
}

void QueryFlow::startCompletion()
{
    // The completion belongs to the day the stored page was asked for.
    const bool today = m_storedMode == DayMode::Today;
    (today ? m_tomorrowCompletion : m_todayCompletion)->stop();
    (today ? m_todayCompletion : m_tomorrowCompletion)->start();
}

void QueryFlow::completionTick(QTimer *timer, DayMode mode)
{
    timer->stop();
    emit ticked();
    for (const SignInfo *sign : SignTable::inCheckOrder()) {
        bool &pending = m_pending[SignTable::position(*sign)];
        if (!pending)
            continue;
        pending = false;
        FortuneReport &fortune = m_reports[SignTable::position(*sign)];
        // Cut once, cleaned once: what is parsed is what is shown and copied.
        fortune = DownloadedText::cleaned(PageParser::parse(m_page));
        m_onShow = {sign, mode, fortune};
        emit completed(*sign, mode, fortune);
        emit statusChanged(SignTable::doneText(*sign, mode));
        return;
    }
}
