#pragma once

#include "LocalService.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

class QProcess;

// The program's network manager. Addresses of the offline service
// (unix+http://zhiweige/...) go over its Unix socket and are never
// redirected; every other address goes to Qt's own HTTP unchanged.
//
// The socket is chosen anew for each request (LocalService::choose): the
// system's where only root or the person could have made it and something
// listens there, the person's own where his service runs or is to be
// started. The person's is reached through his folder as opened and judged.
// Nothing else is judged: whatever answers on that socket is the service.
class ServiceNetwork : public QNetworkAccessManager
{
    Q_OBJECT
public:
    // How long a system socket that hung up without answering is passed over.
    static constexpr int SystemSilenceMs = 60'000;

    // The build's system socket unless told another.
    explicit ServiceNetwork(const QString &systemSocket = LocalService::systemSocket(),
                            QObject *parent = nullptr);
    ~ServiceNetwork() override;

    // Always this socket, checked as the person's own; an empty path goes
    // back to choosing. For tests.
    void setSocketPath(const QString &path) { m_fixedSocket = path; }
    // How the person's own service is started where a request finds it
    // gone, as the launcher starts it; never where this is not set.
    void setServiceStart(const QString &program, const QStringList &arguments);

    // After a request of the local service that nobody answered: where the
    // next one goes to the person's own socket and nothing listens there,
    // his service is started. `done(true)` (always from the event loop,
    // while `context` lives) once asking again may be answered; false
    // where nothing could be done.
    void recover(QObject *context, std::function<void(bool)> done);

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;

private:
    QNetworkReply *createLocalRequest(Operation op, const QNetworkRequest &request,
                                      QIODevice *outgoingData);
    QNetworkReply *refuse(Operation op, const QNetworkRequest &request, const QString &why);
    const LocalService::Folder &keep(LocalService::Folder folder);
    bool systemSilent() const;
    void startService();
    void serviceStarted(bool started);

    QString m_systemSocket;
    QString m_fixedSocket;
    QString m_lastSocket; // where Qt's kept connections lead
    // The person's folders that connections went through, the last one
    // first; a few earlier ones stay open while a reply may still connect.
    std::deque<LocalService::Folder> m_folders;
    QElapsedTimer m_systemSilence; // since the system's socket hung up unanswered
    QString m_serviceProgram;
    QStringList m_serviceArguments;
    QProcess *m_starting = nullptr;
    std::vector<std::pair<QPointer<QObject>, std::function<void(bool)>>> m_waiting;
};
