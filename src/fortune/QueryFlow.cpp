#include "QueryFlow.h"

#include "DateRules.h"
#include "DownloadedText.h"
#include "FortuneTexts.h"
#include "PageFetcher.h"
#include "PageParser.h"
#include "platform/TextBox.h"

#include <QTimer>

QueryFlow::QueryFlow(PageFetcher *fetcher, QUrl fortuneBase, std::function<QDateTime()> clock,
                     QObject *parent)
    : QObject(parent)
    , m_fetcher(fetcher)
    , m_fortuneBase(std::move(fortuneBase))
    , m_clock(clock ? std::move(clock) : &QDateTime::currentDateTime)
    , m_loadDate(m_clock().date())
    , Text1(new TextBox(this))
    , Timer1(new QTimer(this))
    , Timer4(new QTimer(this))
{
    setObjectName(QStringLiteral("QueryFlow"));
    Text1->setObjectName(QStringLiteral("Text1"));
    connect(Text1, &TextBox::changed, this, &QueryFlow::Text1_Change);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer4->setObjectName(QStringLiteral("Timer4"));
    for (QTimer *timer : {Timer1, Timer4})
        timer->setInterval(CompletionDelay);
    connect(Timer1, &QTimer::timeout, this, &QueryFlow::Timer1_Timer);
    connect(Timer4, &QTimer::timeout, this, &QueryFlow::Timer4_Timer);
}

QueryFlow::~QueryFlow()
{
    cancel();
}

void QueryFlow::setCompletionDelay(std::chrono::milliseconds delay)
{
    Timer1->setInterval(delay);
    Timer4->setInterval(delay);
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

QString QueryFlow::page() const
{
    return Text1->text();
}

void QueryFlow::csh()
{
    m_reports.fill(FortuneReport{});
}

FetchReply *QueryFlow::GetBody(const QUrl &url)
{
    return m_fetcher->fetch(url);
}

void QueryFlow::query(const SignInfo &sign)
{
    const DayMode mode = m_mode;
    // The latest click wins: a query still under way is dropped and its page
    // is never shown, so the panel always shows one sign with its own page.
    cancel();
    m_started = true;
    csh();
    // The tomorrow of the moment of the click, not of the start: a window left
    // open past midnight still asks for the right day.
    const QUrl address = DateRules::pageAddress(m_fortuneBase, sign, mode, m_clock().date());
    emit statusChanged(SignTable::fetchingText(sign, mode));

    FetchReply *reply = GetBody(address);
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
    const bool unchanged = Text1->text() == page;
    Text1->setText(page);
    // The same page again raises no change, yet it must complete all the same.
    if (unchanged)
        Text1_Change();
    m_pending[SignTable::position(sign)] = true;
    emit pageStored(sign);
}

void QueryFlow::cancel()
{
    if (m_fetch)
        m_fetch->abort();
    m_fetch = nullptr;
    m_pending.fill(false);
    Timer1->stop();
    Timer4->stop();
}

void QueryFlow::Text1_Change()
{
    // The completion belongs to the day the stored page was asked for.
    if (m_storedMode == DayMode::Today) {
        Timer4->stop();
        Timer1->start();
    } else {
        Timer1->stop();
        Timer4->start();
    }
}

void QueryFlow::Timer1_Timer()
{
    completionTick(Timer1, DayMode::Today);
}

void QueryFlow::Timer4_Timer()
{
    completionTick(Timer4, DayMode::Tomorrow);
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
        fortune = DownloadedText::cleaned(PageParser::parse(Text1->text()));
        m_onShow = {sign, mode, fortune};
        emit completed(*sign, mode, fortune);
        emit statusChanged(SignTable::doneText(*sign, mode));
        return;
    }
}
