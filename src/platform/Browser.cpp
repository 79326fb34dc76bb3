#include "Browser.h"

#include <QDesktopServices>

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

void setOpener(Opener newOpener)
{
    opener() = std::move(newOpener);
}

} // namespace Browser
