#include "TuneDecoder.h"

#include <QFile>

#include <mpg123.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void TuneDecoder::Handle::operator()(mpg123_handle_struct *handle) const
{
    mpg123_delete(handle);
}

TuneDecoder::TuneDecoder() = default;

TuneDecoder::~TuneDecoder()
{
    close();
}

bool TuneDecoder::open(const QString &path)
{
    close();
    // Non-blocking, so that opening a named pipe returns at once to be refused.
    m_fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    struct stat file = {};
    if (::fstat(m_fd, &file) != 0 || !S_ISREG(file.st_mode) ||
        (file.st_uid != ::geteuid() && file.st_uid != 0)) {
        close();
        return false;
    }

    int error = MPG123_OK;
    m_handle.reset(mpg123_new(nullptr, &error));
    if (!m_handle) {
        close();
        return false;
    }
    mpg123_handle *handle = m_handle.get();
    // No printing; a tag's pictures and texts are skipped, never read into memory.
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2, 0);
    // Any rate the file has, as 16-bit samples in one or two channels.
    mpg123_format_none(handle);
    const long *rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_open_fd(handle, m_fd) != MPG123_OK ||
        mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK) {
        close();
        return false;
    }
    m_rate = int(rate);
    m_channels = channels;
    return true;
}

void TuneDecoder::close()
{
    if (m_handle)
        mpg123_close(m_handle.get());
    m_handle.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

qint64 TuneDecoder::read(char *data, qint64 maxBytes)
{
    if (!m_handle)
        return -1;
    const qint64 frameBytes = qint64(m_channels) * 2;
    const size_t wanted = size_t(maxBytes - maxBytes % frameBytes);
    // A new format is announced with no samples; once, the same again.
    for (int tries = 0; tries < 2; ++tries) {
        size_t done = 0;
        const int status =
            mpg123_read(m_handle.get(), reinterpret_cast<unsigned char *>(data), wanted, &done);
        if (status == MPG123_DONE || (status == MPG123_OK && done > 0))
            return qint64(done);
        if (status != MPG123_NEW_FORMAT)
            return -1;
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        mpg123_getformat(m_handle.get(), &rate, &channels, &encoding);
        if (rate != m_rate || channels != m_channels)
            return -1;
    }
    return -1;
}
