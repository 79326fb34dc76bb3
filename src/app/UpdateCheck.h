#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class InternetTransfer;
class QWidget;

// The version check at start-up: downloads the notice that names the newest
// version and either lets the program go on, or says why it must stop and
// ends it.
class UpdateCheck : public QObject
{
    Q_OBJECT
public:
    enum class Verdict {
        Current,    // the notice names this version
        Unreadable, // no notice: the download failed or brought nothing
        Newer,      // anything else
    };
    Q_ENUM(Verdict)

    // What the check may do to the program around it.
    struct Actions
    {
        QWidget *dialogParent = nullptr;
        std::function<void(const QString &)> setStatus; // status panel 2
        std::function<void()> switchTimerOff;           // the timer that started the check
        std::function<void()> endProgram;               // at once, no exit prompt
        QUrl makerForum;
    };

    explicit UpdateCheck(InternetTransfer *inet, QObject *parent = nullptr);

    // Starts the check. Ignored, returning false, while one is running.
    bool run(const QUrl &notice, Actions actions);
    bool isRunning() const { return m_running; }

    static Verdict decide(const QString &notice);
    // The notice as the prompt shows it: one line, at most NoticeShownLength
    // characters, marked when cut.
    static QString shownNotice(const QString &notice);

signals:
    // After the verdict's actions have run.
    void finished(UpdateCheck::Verdict verdict);

private:
    void noticeArrived(const QString &notice);
    void act(const QString &notice);

    InternetTransfer *m_inet;
    Actions m_actions;
    QPointer<QWidget> m_dialogParent;
    QMetaObject::Connection m_arrival;
    bool m_running = false;
};
