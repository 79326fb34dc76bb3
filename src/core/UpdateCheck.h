#pragma once

#include <QObject>
#include <QString>
#include <QStringView>
#include <QUrl>

class InternetTransfer;

// The version check at start-up: downloads the notice that names the newest
// version, in the background, and says what it found. What the program then
// does about it is the window's business.
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

    // The version this build is; the notice names the newest one.
    static constexpr QStringView CurrentVersion = u"V2";
    // The notice is cut to this many characters in a prompt, then marked.
    static constexpr int NoticeShownLength = 200;

    explicit UpdateCheck(InternetTransfer *inet, QObject *parent = nullptr);

    // Starts the check. Ignored, returning false, while one is running.
    bool start(const QUrl &notice);
    bool isRunning() const { return m_running; }

    static Verdict decide(const QString &notice);
    // The notice as a prompt shows it: one line, at most NoticeShownLength
    // characters, marked when cut.
    static QString shownNotice(const QString &notice);

signals:
    void finished(UpdateCheck::Verdict verdict, const QString &notice);

private:
    void noticeArrived(const QString &notice);

    InternetTransfer *m_inet;
    QMetaObject::Connection m_arrival;
    bool m_running = false;
};
