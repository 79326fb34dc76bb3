#include "Connection.h"

#include "Server.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace http {

Connection::Connection(int fd, Server *server)
    : QObject(server)
    , m_fd(fd)
    , m_server(server)
    , m_readable(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{}

Connection::~Connection()
{
    // Only when the server itself goes: otherwise release() came first.
    if (m_fd >= 0) {
        m_readable->setEnabled(false);
        if (m_writable)
            m_writable->setEnabled(false);
        ::close(m_fd);
    }
}

void Connection::write(const QByteArray &bytes)
{
    if (!isOpen() || m_closing || bytes.isEmpty())
        return;
    // What went out already is let go of before the queue grows.
    if (m_sent > 0 && m_sent >= m_output.size() / 2) {
        m_output.remove(0, m_sent);
        m_sent = 0;
    }
    m_output += bytes;
    // Sent from the event loop, never from inside write(): whoever writes
    // again on bytesWritten() does not recurse.
    if (!m_writable) {
        m_writable = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, [this] {
            if (sendQueued())
                emit bytesWritten();
        });
    }
    m_writable->setEnabled(true);
}

// Hands the kernel what it takes; false once the connection has ended.
bool Connection::sendQueued()
{
    while (m_sent < m_output.size()) {
        const ssize_t sent = ::send(m_fd, m_output.constData() + m_sent,
                                    size_t(m_output.size() - m_sent), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            abort(); // the client is gone
            return false;
        }
        m_sent += sent;
    }
    m_output.clear();
    m_sent = 0;
    if (m_writable)
        m_writable->setEnabled(false);
    if (m_closing) {
        release();
        return false;
    }
    if (m_server)
        m_server->outputDrained(this);
    return isOpen();
}

void Connection::close()
{
    if (!isOpen())
        return;
    m_closing = true;
    m_readable->setEnabled(false);
    if (bytesToWrite() == 0)
        release();
}

void Connection::abort()
{
    if (isOpen())
        release();
}

void Connection::release()
{
    m_readable->setEnabled(false);
    if (m_writable)
        m_writable->setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
    m_output.clear();
    m_sent = 0;
    if (m_server)
        m_server->forget(this);
    deleteLater();
}

} // namespace http
