#include "RuntimeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RuntimeFiles {

const QList<RuntimeFile> &all()
{
    // Written by src/core/CMakeLists.txt, from the list that also embeds them.
    static const QList<RuntimeFile> files = {
#include "RuntimeFileList.inc"
    };
    return files;
}

QByteArray resource(int number)
{
    QFile file(QStringLiteral(":/CUSTOM/%1").arg(number));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

namespace {

// The program's folder may be shared with others (a world-writable folder, a
// user's download folder), so every name in it is opened relative to the
// folder and without following a link: someone else's link must never
// redirect a write, nor a read, to a file of their choosing.
class Folder
{
public:
    explicit Folder(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {}
    ~Folder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int fd() const { return m_fd; }
    bool close()
    {
        const bool ok = m_fd < 0 || ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

bool writeAllBytes(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += wrote;
    }
    return true;
}

// At most maxBytes + 1 bytes of the regular file `name` in the folder.
// Opened without blocking (a named pipe or a device under the name would
// hold the thread in open() for good), and read only when it is a regular
// file of the running user's or root's that no one else may write: in a
// folder others may write to, a file someone else left, or could have
// rewritten, is theirs to choose, not ours to trust.
std::optional<QByteArray> readAt(const Folder &folder, const QByteArray &name, qint64 maxBytes)
{
    const Descriptor file(
        ::openat(folder.fd(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info
    {};
    if (file.fd() < 0 || ::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (info.st_uid != ::geteuid() && info.st_uid != 0) || (info.st_mode & S_IWOTH))
        return std::nullopt;
    QByteArray bytes(qsizetype(std::min<qint64>(info.st_size, maxBytes) + 1), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t read = ::read(file.fd(), bytes.data() + got, size_t(bytes.size() - got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            break;
        got += read;
    }
    bytes.truncate(got);
    return bytes;
}

// Readable by all, written by its owner alone, whatever the umask.
constexpr mode_t FileMode = 0644;

struct Split
{
    QString folder;
    QByteArray name;
};

Split split(const QString &path)
{
    const QFileInfo info(path);
    return {info.absolutePath(), QFile::encodeName(info.fileName())};
}

} // namespace

std::optional<QByteArray> readFile(const QString &path, qint64 maxBytes)
{
    const Split where = split(path);
    const Folder folder(where.folder);
    if (!folder.isOpen())
        return std::nullopt;
    return readAt(folder, where.name, maxBytes);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    const Split where = split(path);
    const Folder folder(where.folder);
    if (!folder.isOpen())
        return false;
    const char *name = where.name.constData();

    struct stat existing
    {};
    const bool exists = ::fstatat(folder.fd(), name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists) {
        // A link, a folder, a device: not ours to replace. Another user's
        // file, or one we may not write, stays as its owner left it.
        if (!S_ISREG(existing.st_mode) || existing.st_uid != ::geteuid() ||
            ::faccessat(folder.fd(), name, W_OK, AT_EACCESS) != 0)
            return false;
        // Rewriting identical bytes would only wear the disk; a file others
        // may write is replaced all the same, by one they may not.
        if (qint64(existing.st_size) == bytes.size() && !(existing.st_mode & (S_IWGRP | S_IWOTH)) &&
            readAt(folder, where.name, bytes.size()) == bytes)
            return true;
    }

    // A temporary file beside the target, renamed over it: another copy of the
    // program reading the skin sees the old bytes or the new, never a mix, and
    // an older, longer file is replaced whole. O_EXCL creates a new file and
    // never follows a link that someone put under the temporary name.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = '.' + where.name + '.' +
                    QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        // The program's own mode: never one carried over from the file it
        // replaces, which someone else may have planted writable for all.
        fd = ::openat(folder.fd(), temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, FileMode);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    Descriptor out(fd);
    if (out.fd() < 0)
        return false;
    // A full disk or a size limit fails here, before anything is renamed:
    // the target keeps its old bytes whole.
    bool ok = ::fchmod(out.fd(), FileMode) == 0 && writeAllBytes(out.fd(), bytes) &&
              ::fsync(out.fd()) == 0;
    ok = out.close() && ok;
    // rename() replaces the name itself: even a link put there since the
    // check above is replaced, not followed.
    if (ok && ::renameat(folder.fd(), temporary.constData(), folder.fd(), name) == 0)
        return true;
    ::unlinkat(folder.fd(), temporary.constData(), 0);
    return false;
}

bool write(const QString &folder, const RuntimeFile &file)
{
    return writeFile(QDir(folder).filePath(file.fileName), resource(file.resourceNumber));
}

QList<bool> writeAll(const QString &folder)
{
    QList<bool> outcomes;
    outcomes.reserve(all().size());
    for (const RuntimeFile &file : all())
        outcomes.append(write(folder, file));
    return outcomes;
}

} // namespace RuntimeFiles
