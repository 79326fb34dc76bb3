#pragma once

#include <QNetworkAccessManager>
#include <QString>

// The program's network manager. Addresses of the offline service
// (unix+http://zhiweige/...) go over its Unix socket and are never
// redirected; every other address goes to Qt's own HTTP unchanged.
//
// The system's socket is taken where only the system could have made it;
// else the person's own, once its folder is his alone (LocalService).
// Nothing else is judged: whatever answers on that socket is the service.
class ServiceNetwork : public QNetworkAccessManager
{
    Q_OBJECT
public:
    static constexpr QLatin1StringView SystemSocket{"/run/zhiweige/fortune.sock"};

    explicit ServiceNetwork(const QString &systemSocket = SystemSocket, QObject *parent = nullptr);

    // Always this socket, checked as the person's own; an empty path goes
    // back to choosing. For tests.
    void setSocketPath(const QString &path) { m_fixedSocket = path; }

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;

private:
    QNetworkReply *createLocalRequest(Operation op, const QNetworkRequest &request,
                                      QIODevice *outgoingData);

    QString m_systemSocket;
    QString m_fixedSocket;
    QString m_lastSocket; // where Qt's kept connections lead
};
