#include "base/output_file.h"

#include "base/unique_fd.h"
#include "base/write_all.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
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

// Writes all of DATA to FD, waiting while a pipe or terminal is full.
QString WriteData(int fd, const QByteArray &data)
{
    switch (const int error = quokka::WriteAll(fd, data)) {
    case 0:
        return {};
    case ETIME:
        return QStringLiteral("nothing took the data for 5 seconds");
    default:
        return ErrorText(error);
    }
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
    if (QString error = WriteData(fd, data); !error.isEmpty())
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

// Puts KEEP's group (where the user is a member of it) and permission bits on the new file FD.
QString KeepGroupAndBits(int fd, const struct stat &keep)
{
    if (::fchown(fd, uid_t(-1), keep.st_gid) != 0) {
        // not a member of the file's group: the new file has the user's own
    }
    return ::fchmod(fd, keep.st_mode & 07777) == 0 ? QString() : ErrorText(errno);
}

// Writes DATA to the temporary FD (and closes it), puts KEEP's group and permission bits on
// it when given, and renames it to NAME in DIR, over whatever is there: a link there is
// replaced, not followed.
QString CommitTemporary(int dir, int fd, const QByteArray &temporary, const QByteArray &name, const QByteArray &data,
                        const struct stat *keep)
{
    QString error = keep ? KeepGroupAndBits(fd, *keep) : QString();
    if (error.isEmpty())
        error = WriteData(fd, data);
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

// QSaveFile writes a file whole the same way, but by path: it looks the name up again when it
// opens and when it renames, and resolves a link it finds there itself, where the kernel's
// link rules do not apply, and it would create the target of a link to nothing. So it is
// used only where no one but this user (or root) can change the entries of the folder DIR, and
// the name there is no link: then the name stays what the kernel found. ADDING: the name is
// new, so no one else may add entries either (in a sticky folder such as /tmp anyone may put a
// link where the new file is to go). Elsewhere the temporary file is made and renamed here,
// relative to the folder the kernel opened.
bool OnlyOursToChange(int dir, bool adding)
{
    struct stat st {};
    if (::fstat(dir, &st) != 0 || (st.st_uid != ::geteuid() && st.st_uid != 0))
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (!adding && (st.st_mode & S_ISVTX) != 0);
}

// Writes DATA as NAME in the folder DIR through QSaveFile, the folder reached through the
// descriptor the kernel opened. KEEP: the file replaced, whose group and bits the new one
// gets. OPENED is false when no temporary file could be made there.
QString SaveWhole(int dir, const QByteArray &name, const QByteArray &data, const struct stat *keep, bool &opened)
{
    QSaveFile file(QFile::decodeName("/proc/self/fd/" + QByteArray::number(dir) + '/' + name));
    opened = file.open(QIODevice::WriteOnly);
    if (!opened)
        return file.errorString();
    if (keep) {
        if (QString error = KeepGroupAndBits(file.handle(), *keep); !error.isEmpty())
            return error;
    }
    if (file.write(data) != data.size() || !file.commit())
        return file.errorString();
    return {};
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
    struct stat there {};
    if (OnlyOursToChange(dir.Get(), true) && ::fstatat(dir.Get(), name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0
        && errno == ENOENT) {
        bool opened = false;
        return SaveWhole(dir.Get(), name, data, nullptr, opened);
    }
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
    if (OnlyOursToChange(dir.Get(), false)) {
        bool opened = false;
        const QString error = SaveWhole(dir.Get(), name, data, &st, opened);
        return opened ? error : WriteInPlace(fd, data);
    }
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
    return regular ? WriteInPlace(fd.Get(), data) : WriteData(fd.Get(), data);
}

} // namespace quokka
