#include "ServiceNetwork.h"

#include "LocalHttpReply.h"
#include "LocalService.h"

#include <QFileInfo>
#include <QNetworkRequest>

ServiceNetwork::ServiceNetwork(const QString &systemSocket, QObject *parent)
    : QNetworkAccessManager(parent)
    , m_systemSocket(systemSocket)
{}

QNetworkReply *ServiceNetwork::createRequest(Operation op, const QNetworkRequest &request,
                                             QIODevice *outgoingData)
{
    if (LocalService::isLocal(request.url()))
        return createLocalRequest(op, request, outgoingData);
    return QNetworkAccessManager::createRequest(op, request, outgoingData);
}

QNetworkReply *ServiceNetwork::createLocalRequest(Operation op, const QNetworkRequest &request,
                                                  QIODevice *outgoingData)
{
    if (op != GetOperation && op != HeadOperation) {
        return new LocalHttpReply(op, request, QNetworkReply::ProtocolInvalidOperationError,
                                  QStringLiteral("the local service takes only GET and HEAD"),
                                  this);
    }
    // Chosen anew for each request: the system's socket may come or go.
    const QString socket =
        m_fixedSocket.isEmpty() ? LocalService::socketPath(m_systemSocket) : m_fixedSocket;
    // The system's folder is root's (checked by socketPath); the person's
    // must be his alone, or somebody else may have put the socket there.
    const bool system = m_fixedSocket.isEmpty() && socket == m_systemSocket;
    if (!system) {
        QString why;
        if (!LocalService::fitFolder(QFileInfo(socket).path(), /*create=*/false, &why)) {
            return new LocalHttpReply(op, request, QNetworkReply::ConnectionRefusedError,
                                      QStringLiteral("not connecting to %1: %2").arg(socket, why),
                                      this);
        }
    }
    // No socket is a service that is not running, as a refused connection
    // is; Qt 6.8 would call it an unknown host.
    if (!QFileInfo::exists(socket)) {
        return new LocalHttpReply(op, request, QNetworkReply::ConnectionRefusedError,
                                  QStringLiteral("nothing listens at %1").arg(socket), this);
    }
    QNetworkRequest local(request);
    local.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // Qt keeps its connections by host and port alone: one kept open to the
    // socket used before would carry a request meant for another.
    if (socket != m_lastSocket) {
        clearConnectionCache();
        m_lastSocket = socket;
    }
    local.setAttribute(QNetworkRequest::FullLocalServerNameAttribute, socket);
    return QNetworkAccessManager::createRequest(op, local, outgoingData);
#else
    Q_UNUSED(outgoingData);
    return new LocalHttpReply(op, local, socket, this);
#endif
}
