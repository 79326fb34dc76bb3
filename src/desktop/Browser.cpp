#include "Browser.h"

#include "core/InternetTransfer.h"

#include "core/LoopbackPeer.h"

#include <QDesktopServices>
#include <QEventLoopLocker>

#include <memory>

namespace Browser {
namespace {

Opener &opener()
{
    static Opener current;
    return current;
}

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

} // namespace

bool open(const QUrl &url)
{
    if (!isWebAddress(url))
        return false;
    if (opener())
        return opener()(url);
    return QDesktopServices::openUrl(url);
}

void openWhenTrusted(const QUrl &url, QNetworkAccessManager *network, QObject *context)
{
    if (!isWebAddress(url))
        return;
    if (!LoopbackPeer::isLoopback(url)) {
        open(url);
        return;
    }
    auto *check = new InternetTransfer(network, context);
    check->setTimeoutMs(5000);
    // The forum of the exit prompt: the program stays until the answer.
    auto running = std::make_shared<QEventLoopLocker>();
    QObject::connect(check, &InternetTransfer::finished, check, [check, url, running] {
        if (check->heard())
            open(url);
        check->deleteLater();
    });
    check->get(url);
}

void setOpener(Opener newOpener)
{
    opener() = std::move(newOpener);
}

} // namespace Browser
