#include "base/output_file.h"

#include "base/unique_fd.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quokka {
namespace {

using Clock = std::chrono::steady_clock;

// How long a FIFO may go without a reader, and a write without progress.
constexpr std::chrono::milliseconds kPatience{5000};
// Opened for writing only, never as a controlling terminal, and without blocking: a FIFO
// without a reader fails at once (ENXIO) instead of waiting for ever.
constexpr int kOpenFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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

// Writes all of DATA to FD, waiting while a pipe or terminal is full.
QString WriteAll(int fd, const QByteArray &data)
{
    const PipeSignalHeld held;
    const char *at = data.constData();
    std::size_t left = std::size_t(data.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, at, left);
        if (written > 0) {
            at += written;
            left -= std::size_t(written);
        } else if (written < 0 && errno == EAGAIN) {
            pollfd ready{fd, POLLOUT, 0};
            const int events = ::poll(&ready, 1, int(kPatience.count()));
            if (events == 0)
                return QStringLiteral("nothing took the data for 5 seconds");
            if (events < 0 && errno != EINTR)
                return ErrorText(errno);
        } else if (written < 0 && errno != EINTR) {
            return ErrorText(errno);
        } else if (written == 0) {
            return ErrorText(EIO);
        }
    }
    return {};
}

// Opens PATH for writing as it is (EXTRA may add O_CREAT); -1 and errno when the kernel
// refuses. A FIFO without a reader is tried again until one comes or kPatience passes.
int OpenForWriting(const QByteArray &path, int extra)
{
    const Clock::time_point deadline = Clock::now() + kPatience;
    for (;;) {
        const int fd = ::open(path.constData(), kOpenFlags | extra, 0600);
        if (fd >= 0 || errno != ENXIO)
            return fd;
        struct stat st {};
        if (::stat(path.constData(), &st) != 0 || !S_ISFIFO(st.st_mode) || Clock::now() >= deadline) {
            errno = ENXIO;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

QString OpenError(const QByteArray &path, int error)
{
    struct stat st {};
    if (error == ENXIO && ::stat(path.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
        return QStringLiteral("no program opened the FIFO for reading within 5 seconds");
    return ErrorText(error);
}

// A regular file written where it is: from its start, then cut to DATA's length.
QString WriteInPlace(int fd, const QByteArray &data)
{
    if (QString error = WriteAll(fd, data); !error.isEmpty())
        return error;
    if (::ftruncate(fd, off_t(data.size())) != 0 || ::fsync(fd) != 0)
        return ErrorText(errno);
    return {};
}

// A new file beside NAME in DIR, opened for writing; never a link or an existing file. -1
// and errno when none can be made.
int MakeTemporary(int dir, const QByteArray &name, QByteArray &temporary)
{
    for (int attempt = 0;; ++attempt) {
        temporary = '.' + name.left(200) + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".part";
        const int fd = ::openat(dir, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST || attempt == 20)
            return fd;
    }
}

// Writes DATA to the temporary FD (and closes it), puts KEEP's group and permission bits on
// it when given, and renames it to NAME in DIR, over whatever is there: a link there is
// replaced, not followed.
QString CommitTemporary(int dir, int fd, const QByteArray &temporary, const QByteArray &name, const QByteArray &data,
                        const struct stat *keep)
{
    QString error;
    if (keep) {
        if (::fchown(fd, uid_t(-1), keep->st_gid) != 0) {
            // not a member of the file's group: the new file has the user's own
        }
        if (::fchmod(fd, keep->st_mode & 07777) != 0)
            error = ErrorText(errno);
    }
    if (error.isEmpty())
        error = WriteAll(fd, data);
    if (error.isEmpty() && ::fsync(fd) != 0)
        error = ErrorText(errno);
    if (::close(fd) != 0 && error.isEmpty())
        error = ErrorText(errno);
    if (error.isEmpty() && ::renameat(dir, temporary.constData(), dir, name.constData()) != 0)
        error = ErrorText(errno);
    if (!error.isEmpty())
        ::unlinkat(dir, temporary.constData(), 0);
    return error;
}

void SplitPath(const QByteArray &path, QByteArray &folder, QByteArray &name)
{
    const qsizetype slash = path.lastIndexOf('/');
    folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    name = path.mid(slash + 1);
}

// A missing PATH: a new file through a temporary one in its folder.
QString CreateNew(const QByteArray &path, const QByteArray &data)
{
    QByteArray folder, name, temporary;
    SplitPath(path, folder, name);
    if (name.isEmpty() || name == "." || name == "..")
        return ErrorText(EISDIR);
    const UniqueFd dir(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid())
        return ErrorText(errno);
    const int fd = MakeTemporary(dir.Get(), name, temporary);
    if (fd < 0)
        return ErrorText(errno);
    return CommitTemporary(dir.Get(), fd, temporary, name, data, nullptr);
}

// A regular file of the user's own, open as FD: replaced whole through a temporary file in
// the folder the kernel found it in. Where that folder takes no new file, or the file is no
// longer where it was found, it is written in place.
QString ReplaceOwn(int fd, const struct stat &st, const QByteArray &data)
{
    char target[PATH_MAX];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(self.constData(), target, sizeof target);
    if (length <= 0 || std::size_t(length) >= sizeof target)
        return WriteInPlace(fd, data);
    QByteArray folder, name, temporary;
    SplitPath(QByteArray(target, length), folder, name);
    const UniqueFd dir(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat there {};
    if (!dir.Valid() || ::fstatat(dir.Get(), name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0
        || there.st_dev != st.st_dev || there.st_ino != st.st_ino)
        return WriteInPlace(fd, data);
    const int temporaryFd = MakeTemporary(dir.Get(), name, temporary);
    if (temporaryFd < 0)
        return WriteInPlace(fd, data);
    return CommitTemporary(dir.Get(), temporaryFd, temporary, name, data, &st);
}

} // namespace

QString WriteOutputFile(const QString &path, const QByteArray &data)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return ErrorText(ENOENT);
    UniqueFd fd(OpenForWriting(name, 0));
    if (!fd.Valid()) {
        if (errno == ENOENT)
            return CreateNew(name, data);
        return OpenError(name, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return ErrorText(errno);
    const bool regular = S_ISREG(st.st_mode);
    if (regular && st.st_uid == ::geteuid())
        return ReplaceOwn(fd.Get(), st, data);
    if (regular || S_ISFIFO(st.st_mode)) {
        // Someone else's file or FIFO: opened again as a creating open, which is where the
        // kernel applies its rules for such files in shared sticky folders.
        UniqueFd again(OpenForWriting(name, O_CREAT));
        if (!again.Valid())
            return OpenError(name, errno);
        struct stat now {};
        if (::fstat(again.Get(), &now) != 0)
            return ErrorText(errno);
        if (now.st_dev != st.st_dev || now.st_ino != st.st_ino)
            return QStringLiteral("the file was replaced while it was opened");
        fd = std::move(again);
    }
    return regular ? WriteInPlace(fd.Get(), data) : WriteAll(fd.Get(), data);
}

} // namespace quokka
