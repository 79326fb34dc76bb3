#pragma once

#include "DayMode.h"
#include "FortuneReport.h"
#include "SignTable.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <array>
#include <chrono>
#include <functional>

class FetchReply;
class PageFetcher;
class QTimer;
struct FetchResult;

// How a click on a sign becomes the fortune on show, with no widget in it.
//
// Who owns what: the flow owns the day mode, the last page stored, the
// twelve FortuneReports, the pending flags, the download under way, the two
// completion timers (one for a today query, one for a tomorrow one) and the
// snapshot of the fortune on show. The window owns none of it: it forwards
// its buttons here and shows what the flow emits.
//
// One click: query() drops the query under way (the latest click wins),
// clears the parse state of all twelve signs, says "<fetchName>今日运势获取
// 中..." (明日 for a tomorrow query, as in every text below) and downloads
// the page for the query's day. A page (a whole 2xx answer holding at least
// one "<h4>") is stored and its sign is flagged pending; storing starts the
// completion timer of the query's own day, the same page again as well.
// That timer's tick parses the stored page for the first pending sign in
// check order, keeps it as the fortune on show, emits completed() and says
// "<name>今日运势获取完毕...". A failed download stores nothing and says
// "<name>今日运势获取失败..."; the fortune on show stays.
class QueryFlow : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds CompletionDelay{1000};

    // What a completion showed: the sign, the day it was asked for, and its
    // fortune as parsed and cleaned.
    struct OnShow
    {
        const SignInfo *sign = nullptr;
        DayMode mode = DayMode::Today;
        FortuneReport fortune;
    };

    // Pages are read from under fortuneBase; clock tells local time.
    QueryFlow(PageFetcher *fetcher, QUrl fortuneBase,
              std::function<QDateTime()> clock = qOverload<>(&QDateTime::currentDateTime),
              QObject *parent = nullptr);
    ~QueryFlow() override;

    // For tests, which need not wait a second for each completion.
    void setCompletionDelay(std::chrono::milliseconds delay);

    DayMode mode() const { return m_mode; }
    // Today to tomorrow and back. The fortune on show, the pending flags and
    // the timers are left as they are.
    void switchMode();

    // A query for the sign in the current day mode.
    void query(const SignInfo &sign);
    // Drops the query under way: no page of it is stored or shown.
    void cancel();
    // Clears the parse state of all twelve signs.
    void clearReports();

    bool isFetching() const { return !m_fetch.isNull(); }
    // Whether any query has been started since the flow was made.
    bool hasStarted() const { return m_started; }
    // The sign's fortune as its last completion cut it; empty until then and
    // after clearReports().
    const FortuneReport &report(const SignInfo &sign) const;
    bool pendingFlag(const SignInfo &sign) const;
    // The last page stored.
    const QString &page() const { return m_page; }
    const OnShow &onShow() const { return m_onShow; }

signals:
    // For the status line.
    void statusChanged(const QString &text);
    void modeChanged(DayMode mode);
    void pageStored(const SignInfo &sign);
    void failed(const SignInfo &sign, const FetchResult &result);
    // Every completion tick, whether or not a sign was pending.
    void ticked();
    // A completion tick that served a sign; after ticked().
    void completed(const SignInfo &sign, DayMode mode, const FortuneReport &fortune);

private:
    void pageArrived(const SignInfo &sign, DayMode mode, const FetchResult &result);
    void storePage(const SignInfo &sign, DayMode mode, const QString &page);
    void startCompletion();
    void completionTick(QTimer *timer, DayMode mode);

    PageFetcher *m_fetcher;
    QUrl m_fortuneBase;
    std::function<QDateTime()> m_clock;
    DayMode m_mode = DayMode::Today;
    bool m_started = false;

    QString m_page;                        // the last page stored
    DayMode m_storedMode = DayMode::Today; // the day m_page was asked for
    QTimer *m_todayCompletion;
    QTimer *m_tomorrowCompletion;
    QPointer<FetchReply> m_fetch;
    std::array<FortuneReport, SignTable::SignCount> m_reports{};
    std::array<bool, SignTable::SignCount> m_pending{};
    OnShow m_onShow;
};
