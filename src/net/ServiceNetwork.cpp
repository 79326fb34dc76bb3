#include "ServiceNetwork.h"

#include "FailedReply.h"
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
#include "LocalHttpReply.h"
#endif

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>

namespace {

constexpr int KeptFolders = 4;
// A start that has not said it listens by then will not.
constexpr int ServiceStartMs = 10'000;

} // namespace

ServiceNetwork::ServiceNetwork(const QString &systemSocket, QObject *parent)
    : QNetworkAccessManager(parent)
    , m_systemSocket(systemSocket)
{}

ServiceNetwork::~ServiceNetwork() = default;

void ServiceNetwork::setServiceStart(const QString &program, const QStringList &arguments)
{
    m_serviceProgram = program;
    m_serviceArguments = arguments;
}

QNetworkReply *ServiceNetwork::createRequest(Operation op, const QNetworkRequest &request,
                                             QIODevice *outgoingData)
{
    if (LocalService::isLocal(request.url()))
        return createLocalRequest(op, request, outgoingData);
    return QNetworkAccessManager::createRequest(op, request, outgoingData);
}

QNetworkReply *ServiceNetwork::refuse(Operation op, const QNetworkRequest &request,
                                      const QString &why)
{
    return new FailedReply(op, request, QNetworkReply::ConnectionRefusedError, why, this);
}

// The folder the next connection goes through: the last one where this is
// the same folder still.
const LocalService::Folder &ServiceNetwork::keep(LocalService::Folder folder)
{
    if (m_folders.empty() || !m_folders.front().sameFolderAs(folder)) {
        m_folders.push_front(std::move(folder));
        if (m_folders.size() > KeptFolders)
            m_folders.pop_back();
    }
    return m_folders.front();
}

bool ServiceNetwork::systemSilent() const
{
    return m_systemSilence.isValid() && m_systemSilence.elapsed() < SystemSilenceMs;
}

QNetworkReply *ServiceNetwork::createLocalRequest(Operation op, const QNetworkRequest &request,
                                                  QIODevice *outgoingData)
{
    if (op != GetOperation && op != HeadOperation)
        return new FailedReply(op, request, QNetworkReply::ProtocolInvalidOperationError,
                               QStringLiteral("the local service takes only GET and HEAD"), this);
    // Chosen anew for each request: the system's socket may come or go, the
    // person's service end and start again.
    LocalService::Choice choice;
    if (m_fixedSocket.isEmpty()) {
        choice = LocalService::choose(m_systemSocket, systemSilent());
    } else {
        choice = LocalService::given(m_fixedSocket);
        choice.listening = !choice.address.isEmpty(); // whatever it is, it is asked
    }
    if (!choice.unfit.isEmpty())
        return refuse(op, request,
                      QStringLiteral("not connecting to %1: %2").arg(choice.socket, choice.unfit));
    // Refused at once, as a refused connection is; Qt 6.8 would call a
    // missing socket an unknown host.
    if (!choice.listening)
        return refuse(op, request, QStringLiteral("nothing listens at %1").arg(choice.socket));
    if (!choice.system) {
        const QString name = choice.address.section(u'/', -1);
        choice.address = keep(std::move(choice.folder)).address(name);
    }

    QNetworkRequest local(request);
    local.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // Qt keeps its connections by host and port alone: one kept open to the
    // socket used before would carry a request meant for another.
    if (choice.address != m_lastSocket) {
        clearConnectionCache();
        m_lastSocket = choice.address;
    }
    local.setAttribute(QNetworkRequest::FullLocalServerNameAttribute, choice.address);
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, local, outgoingData);
#else
    Q_UNUSED(outgoingData);
    QNetworkReply *reply = new LocalHttpReply(op, local, choice.address, this);
#endif
    // Taken by systemd, but the service behind it cannot start: the person's
    // own is used for a while instead.
    if (choice.system) {
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            if (reply->error() == QNetworkReply::RemoteHostClosedError &&
                !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
                m_systemSilence.start();
        });
    }
    return reply;
}

void ServiceNetwork::recover(QObject *context, std::function<void(bool)> done)
{
    const auto answer = [context, done = std::move(done)](bool again) {
        QMetaObject::invokeMethod(
            context, [done, again] { done(again); }, Qt::QueuedConnection);
    };
    if (!m_fixedSocket.isEmpty()) {
        answer(false);
        return;
    }
    const LocalService::Choice choice = LocalService::choose(m_systemSocket, systemSilent());
    if (choice.listening) {
        answer(true);
    } else if (choice.system || !choice.unfit.isEmpty() || m_serviceProgram.isEmpty()) {
        answer(false);
    } else {
        m_waiting.emplace_back(context, std::move(answer));
        startService();
    }
}

// One start at a time; whoever asks meanwhile waits for the same one.
void ServiceNetwork::startService()
{
    if (m_starting)
        return;
    m_starting = new QProcess(this);
    m_starting->setProgram(m_serviceProgram);
    m_starting->setArguments(m_serviceArguments);
    m_starting->setStandardInputFile(QProcess::nullDevice());
    m_starting->setStandardOutputFile(QProcess::nullDevice());
    m_starting->setStandardErrorFile(QProcess::nullDevice());
    // It returns once the service listens, or at once where one already does.
    connect(m_starting, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        serviceStarted(status == QProcess::NormalExit && code == 0);
    });
    connect(m_starting, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            serviceStarted(false);
    });
    QTimer::singleShot(ServiceStartMs, m_starting, &QProcess::kill);
    m_starting->start();
}

void ServiceNetwork::serviceStarted(bool started)
{
    if (!m_starting)
        return;
    m_starting->deleteLater();
    m_starting = nullptr;
    for (auto &[context, done] : std::exchange(m_waiting, {})) {
        if (context)
            done(started);
    }
}
