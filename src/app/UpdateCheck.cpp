#include "UpdateCheck.h"

#include "app/ShellTexts.h"
#include "fortune/DownloadedText.h"
#include "platform/Browser.h"
#include "platform/InternetTransfer.h"
#include "platform/Prompt.h"

#include <QWidget>

UpdateCheck::UpdateCheck(InternetTransfer *inet, QObject *parent)
    : QObject(parent)
    , m_inet(inet)
{}

bool UpdateCheck::run(const QUrl &notice, Actions actions)
{
    if (m_running)
        return false;
    m_running = true;
    m_actions = std::move(actions);
    m_dialogParent = m_actions.dialogParent;
    m_arrival = connect(m_inet, &InternetTransfer::finished, this, &UpdateCheck::noticeArrived);
    m_inet->OpenURL(notice);
    return true;
}

UpdateCheck::Verdict UpdateCheck::decide(const QString &notice)
{
    if (notice.isEmpty())
        return Verdict::Unreadable;
    // Exactly the tag: a stray line break or a lower-case "v" is another notice.
    if (notice == ShellTexts::CurrentVersion)
        return Verdict::Current;
    return Verdict::Newer;
}

QString UpdateCheck::shownNotice(const QString &notice)
{
    // An error page's line breaks would make the prompt as tall as the page.
    return DownloadedText::clean(notice, ShellTexts::NoticeShownLength, DownloadedText::Lines::One);
}

void UpdateCheck::noticeArrived(const QString &notice)
{
    disconnect(m_arrival);
    // The prompts below wait for the user; let the download finish unwinding first.
    QMetaObject::invokeMethod(
        this, [this, notice] { act(notice); }, Qt::QueuedConnection);
}

void UpdateCheck::act(const QString &notice)
{
    const Actions &actions = m_actions;
    const Verdict verdict = decide(notice);
    switch (verdict) {
    case Verdict::Current:
        if (actions.setStatus)
            actions.setStatus(ShellTexts::ChooseYourSign.toString());
        if (actions.switchTimerOff)
            actions.switchTimerOff();
        break;
    case Verdict::Unreadable:
        Prompt::show(m_dialogParent,
                     {ShellTexts::NetworkFailed.toString(), Prompt::MessageTitle.toString(),
                      Prompt::Icon::Exclamation, Prompt::Buttons::Ok});
        if (actions.endProgram)
            actions.endProgram();
        break;
    case Verdict::Newer:
        if (actions.setStatus)
            actions.setStatus(ShellTexts::NewerVersionFound.toString());
        Prompt::show(m_dialogParent, {ShellTexts::NewerVersionBefore + shownNotice(notice) +
                                          ShellTexts::NewerVersionAfter,
                                      ShellTexts::NewerVersionTitle.toString(),
                                      Prompt::Icon::Information, Prompt::Buttons::Ok});
        Browser::open(actions.makerForum);
        if (actions.endProgram)
            actions.endProgram();
        break;
    }
    m_running = false;
    emit finished(verdict);
}
