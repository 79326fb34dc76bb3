#include "Browser.h"

#include <QDesktopServices>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

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

// Closes a descriptor when it goes out of scope.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Only root or the person may change it: owned by one of them, and
// writable by neither group nor others.
bool changeableByOthers(const struct stat &about)
{
    return (about.st_uid != 0 && about.st_uid != ::geteuid()) ||
           (about.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The folder's index.html, decided on the folder and the file as opened: the
// address handed on names the folder that was opened, wherever links in the
// given path led, and the page in it that was judged.
QUrl installedPage(const QUrl &url)
{
    // A host would make the path another machine's share ("//host/...").
    if (!url.isValid() || !url.isLocalFile() || !url.host().isEmpty() || url.hasQuery() ||
        url.hasFragment())
        return {};
    const QString folder = url.toLocalFile();
    if (!folder.startsWith(u'/') || !folder.endsWith(u'/'))
        return {};
    const Descriptor dir{
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    struct stat about = {};
    if (dir.fd < 0 || ::fstat(dir.fd, &about) != 0 || changeableByOthers(about))
        return {};
    // Not following a link out of the folder; not waiting on a pipe.
    const Descriptor page{
        ::openat(dir.fd, "index.html", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (page.fd < 0 || ::fstat(page.fd, &about) != 0 || !S_ISREG(about.st_mode) ||
        (about.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0 || changeableByOthers(about))
        return {};
    char opened[PATH_MAX] = {};
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(dir.fd);
    const ssize_t length = ::readlink(self.constData(), opened, sizeof opened - 1);
    if (length <= 0 || opened[0] != '/')
        return {};
    QString path = QFile::decodeName(QByteArray(opened, length));
    if (!path.endsWith(u'/'))
        path += u'/';
    return QUrl::fromLocalFile(path + QLatin1StringView("index.html"));
}

} // namespace

bool open(const QUrl &url)
{
    const QUrl target = isWebAddress(url) ? url : installedPage(url);
    if (target.isEmpty())
        return false;
    if (opener())
        return opener()(target);
    return QDesktopServices::openUrl(target);
}

void setOpener(Opener newOpener)
{
    opener() = std::move(newOpener);
}

} // namespace Browser
