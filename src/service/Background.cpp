#include "Background.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Background {
namespace {

int readyFd = -1;

} // namespace

bool detach()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::close(fds[0]);
        readyFd = fds[1];
        // Out of the starting terminal's session: a hang-up there is not ours.
        ::setsid();
        return true;
    }

    ::close(fds[1]);
    char word = 0;
    ssize_t got = 0;
    do {
        got = ::read(fds[0], &word, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1)
        ::_exit(0);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

void ready()
{
    if (readyFd < 0)
        return;
    // Nothing may hold the starter's streams open, nor its working folder.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    [[maybe_unused]] const int moved = ::chdir("/");
    const char word = 1;
    [[maybe_unused]] const ssize_t written = ::write(readyFd, &word, 1);
    ::close(readyFd);
    readyFd = -1;
}

} // namespace Background
