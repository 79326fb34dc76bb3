#include "UpdateCheck.h"

#include "DownloadedText.h"
#include "net/InternetTransfer.h"

UpdateCheck::UpdateCheck(InternetTransfer *inet, QObject *parent)
    : QObject(parent)
    , m_inet(inet)
{}

bool UpdateCheck::start(const QUrl &notice)
{
    // The window's timer ticks on while the notice is on its way.
    if (m_running)
        return false;
    m_running = true;
    m_arrival = connect(m_inet, &InternetTransfer::finished, this, &UpdateCheck::noticeArrived);
    m_inet->get(notice);
    return true;
}

UpdateCheck::Verdict UpdateCheck::decide(const QString &notice)
{
    if (notice.isEmpty())
        return Verdict::Unreadable;
    // Exactly the tag: a stray line break or a lower-case "v" is another notice.
    if (notice == CurrentVersion)
        return Verdict::Current;
    return Verdict::Newer;
}

QString UpdateCheck::shownNotice(const QString &notice)
{
    // An error page's line breaks would make the prompt as tall as the page.
    return DownloadedText::clean(notice, NoticeShownLength, DownloadedText::Lines::One);
}

void UpdateCheck::noticeArrived(const QString &notice)
{
    disconnect(m_arrival);
    m_running = false;
    emit finished(decide(notice), notice);
}
