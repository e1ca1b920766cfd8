#include "base/write_all.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace quokka {
namespace {

// How long a full descriptor may go without taking anything.
constexpr int kPatienceMs = 5000;

// While it lives, a write to a pipe whose reader has gone fails with EPIPE instead of ending
// the program with SIGPIPE; a SIGPIPE raised meanwhile is taken off this thread.
class PipeSignalHeld {
public:
    PipeSignalHeld()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        m_wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~PipeSignalHeld()
    {
        if (!m_wasPending) {
            const timespec now{};
            while (sigtimedwait(&m_pipe, nullptr, &now) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld &) = delete;
    PipeSignalHeld &operator=(const PipeSignalHeld &) = delete;

private:
    sigset_t m_pipe{}, m_old{};
    bool m_wasPending = false;
};

} // namespace

int WriteAll(int fd, std::string_view data)
{
    const PipeSignalHeld held;
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written > 0) {
            data.remove_prefix(std::size_t(written));
        } else if (written == 0) {
            return EIO;
        } else if (errno == EAGAIN) {
            pollfd ready{fd, POLLOUT, 0};
            const int events = ::poll(&ready, 1, kPatienceMs);
            if (events == 0)
                return ETIME;
            if (events < 0 && errno != EINTR)
                return errno;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

} // namespace quokka
