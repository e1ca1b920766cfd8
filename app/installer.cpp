#include "app/installer.h"

#include "base/debug_log.h"
#include "base/unique_fd.h"
#include "trace/icmp_tracer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QLatin1String kFolderName("Quokka Quokka");
constexpr QLatin1String kLauncherName("Quokka Quokka");
constexpr QLatin1String kLauncherFile("Quokka Quokka.desktop");
constexpr QLatin1String kIconResource(":/res/icon.png");

// One line in the debug log for a failed step: what failed, where, and the system's reason.
void LogFailure(const char *what, const QString &path, int error = 0)
{
    if (error != 0)
        qCDebug(quokka::lcQuokka) << "Installer:" << what << path << std::strerror(error);
    else
        qCDebug(quokka::lcQuokka) << "Installer:" << what << path;
}

// A file written under a hidden temporary name in the folder it belongs to, then renamed into
// place in one step, so that no one ever sees it half-written. Removed unless placed.
class PendingFile {
public:
    explicit PendingFile(const QString &folder)
        : m_path(QFile::encodeName(folder) + "/.quokka-install-XXXXXX"),
          m_fd(::mkostemp(m_path.data(), O_CLOEXEC))
    {
    }
    ~PendingFile()
    {
        if (m_fd.Valid() && !m_placed)
            ::unlink(m_path.constData());
    }
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    int fd() const { return m_fd.Get(); }
    bool valid() const { return m_fd.Valid(); }

    // Gives the file MODE, makes its contents durable and renames it to TARGET.
    // Returns 0, or the errno of the step that failed.
    int Place(const QString &target, mode_t mode)
    {
        if (::fchmod(fd(), mode) != 0 || ::fsync(fd()) != 0
            || ::rename(m_path.constData(), QFile::encodeName(target).constData()) != 0)
            return errno;
        m_placed = true;
        return 0;
    }

private:
    QByteArray m_path;
    quokka::UniqueFd m_fd;
    bool m_placed = false;
};

// Makes PATH and any missing folder above it (private to the user, as the XDG rules ask).
// Returns 0 when PATH is a folder afterwards, else the errno.
int MakeFolders(const QString &path)
{
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    for (qsizetype end = 1; end <= native.size(); ++end) {
        if (end < native.size() && native[end] != '/')
            continue;
        if (::mkdir(native.left(end).constData(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat info {};
    if (::stat(native.constData(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

bool IsFolder(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// The most a copy moves between two looks at its stop token: a few hundredths of a second
// even on a slow disk.
constexpr off_t kCopyChunk = 1 << 20;

// Finishes a copy with sendfile from byte DONE on, for file systems that refuse
// copy_file_range between them. Returns 0, ECANCELED once STOP is requested, or the errno.
int SendfileCopy(int from, int to, off_t done, off_t size, const std::stop_token &stop)
{
    if (::lseek(to, done, SEEK_SET) < 0)
        return errno;
    while (done < size) {
        if (stop.stop_requested())
            return ECANCELED;
        const ssize_t n = ::sendfile(to, from, &done, static_cast<size_t>(std::min(size - done, kCopyChunk)));
        if (n == 0)
            return EIO; // the source ended early
        if (n < 0 && errno != EINTR)
            return errno;
    }
    return 0;
}

// Copies SIZE bytes from FROM into the empty file TO without passing them through this
// process: a shared-extent clone where the file system has one (done in one step), else
// copy_file_range a chunk at a time, stopping between chunks once STOP is requested.
// Returns 0, ECANCELED for a stop, or the errno.
int KernelCopy(int from, int to, off_t size, const std::stop_token &stop)
{
    if (::ioctl(to, FICLONE, from) == 0)
        return 0;
    loff_t in = 0;
    loff_t out = 0;
    while (out < size) {
        if (stop.stop_requested())
            return ECANCELED;
        const auto chunk = static_cast<size_t>(std::min(size - out, kCopyChunk));
        const ssize_t n = ::copy_file_range(from, &in, to, &out, chunk, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return EIO; // the source ended early
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)
            return SendfileCopy(from, to, out, size, stop);
        return errno;
    }
    return 0;
}

// Copies PROGRAM to TARGET with its run bits, replacing an earlier copy in one step. A copy
// stopped by STOP is removed: TARGET is left as it was.
void CopyProgram(const QString &program, const QString &target, const std::stop_token &stop)
{
    quokka::UniqueFd source(::open(QFile::encodeName(program).constData(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!source.Valid() || ::fstat(source.Get(), &info) != 0)
        return LogFailure("cannot read the program", program, errno);
    if (!S_ISREG(info.st_mode))
        return LogFailure("the program is not a regular file", program);
    struct stat existing {};
    if (::stat(QFile::encodeName(target).constData(), &existing) == 0
        && existing.st_dev == info.st_dev && existing.st_ino == info.st_ino)
        return; // the program is that copy already
    PendingFile copy(QFileInfo(target).path());
    if (!copy.valid())
        return LogFailure("cannot create a file beside", target, errno);
    if (const int error = KernelCopy(source.Get(), copy.fd(), info.st_size, stop))
        return LogFailure("cannot copy the program to", target, error);
    if (stop.stop_requested())
        return LogFailure("the copy was stopped before it was put in place at", target);
    if (const int error = copy.Place(target, info.st_mode & 0777))
        return LogFailure("cannot put the copy in place at", target, error);
}

int WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0)
            done += n;
    }
    return 0;
}

// Writes BYTES as the file PATH with MODE, replacing an earlier file in one step.
void WriteFileInPlace(const QString &path, const QByteArray &bytes, mode_t mode)
{
    PendingFile file(QFileInfo(path).path());
    if (!file.valid())
        return LogFailure("cannot create a file beside", path, errno);
    if (const int error = WriteAll(file.fd(), bytes))
        return LogFailure("cannot write", path, error);
    if (const int error = file.Place(path, mode))
        return LogFailure("cannot put in place", path, error);
}

void SaveIcon(const QString &path)
{
    QFile resource(kIconResource);
    if (!resource.open(QIODevice::ReadOnly))
        return LogFailure("the application icon is missing from", kIconResource);
    WriteFileInPlace(path, resource.readAll(), 0644);
}

// A value of a desktop entry: backslashes, line ends and tabs written as escapes.
QString EscapeValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': escaped += QLatin1String("\\\\"); break;
        case '\n': escaped += QLatin1String("\\n"); break;
        case '\r': escaped += QLatin1String("\\r"); break;
        case '\t': escaped += QLatin1String("\\t"); break;
        default: escaped += c;
        }
    }
    return escaped;
}

// One argument of a launcher's command line: in double quotes, with the characters the
// launcher rules reserve inside quotes escaped and "%" doubled (no field code).
QString QuoteExecArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
        if (c == u'%')
            quoted += u'%';
    }
    return quoted + u'"';
}

// The launcher of the copied PROGRAM, showing ICON.
QByteArray LauncherText(const QString &program, const QString &icon)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QLatin1String("Name=") + kLauncherName + u'\n';
    text += QLatin1String("Comment=") + kLauncherName + u'\n';
    text += QLatin1String("Exec=") + EscapeValue(QuoteExecArgument(program)) + u'\n';
    text += QLatin1String("Icon=") + EscapeValue(icon) + u'\n';
    text += QLatin1String("Terminal=false\n");
    return text.toUtf8();
}

void WriteLaunchers(const InstallPlaces &places, const QByteArray &launcher)
{
    if (places.desktop.isEmpty() || !IsFolder(places.desktop))
        LogFailure("no desktop folder for the launcher:", places.desktop);
    else
        WriteFileInPlace(places.desktop + u'/' + kLauncherFile, launcher, 0755);

    if (places.applications.isEmpty())
        LogFailure("no applications folder for the launcher:", places.applications);
    else if (const int error = MakeFolders(places.applications))
        LogFailure("cannot make the folder", places.applications, error);
    else
        WriteFileInPlace(places.applications + u'/' + kLauncherFile, launcher, 0755);
}

QString AbsoluteVariable(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? value : QString();
}

QString UserHome()
{
    const QString home = AbsoluteVariable("HOME");
    if (!home.isEmpty())
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? QFile::decodeName(entry->pw_dir) : QString();
}

// XDG_DATA_HOME when it is an absolute path (the XDG rules ignore others), else ~/.local/share.
QString XdgDataHome(const QString &home)
{
    const QString dataHome = AbsoluteVariable("XDG_DATA_HOME");
    if (!dataHome.isEmpty() || home.isEmpty())
        return dataHome;
    return home + QLatin1String("/.local/share");
}

// The file name of the running program, as it was started.
QString RunningProgramName()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0)
        return QString();
    QString path = QFile::decodeName(QByteArray(buffer, n));
    const QLatin1String deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return QFileInfo(path).fileName();
}

// A link named like the helper in FOLDER, pointing at HELPER, put in place in one step. The
// copy finds its helper beside itself that way.
void LinkProbeHelper(const QString &helper, const QString &folder)
{
    if (helper.isEmpty())
        return; // none found: the copy traces where ping sockets are allowed
    if (!QFileInfo(helper).isFile())
        return LogFailure("no probe helper to link:", helper);
    const QString target = folder + QLatin1String("/quokka-quokka-probe");
    const QByteArray pending = QFile::encodeName(folder + QLatin1String("/.quokka-install-link"));
    ::unlink(pending.constData());
    if (::symlink(QFile::encodeName(QFileInfo(helper).absoluteFilePath()).constData(), pending.constData()) != 0
        || ::rename(pending.constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        ::unlink(pending.constData());
        LogFailure("cannot link the probe helper as", target, error);
    }
}

} // namespace

InstallPlaces InstallPlacesFromEnvironment()
{
    InstallPlaces places;
    places.programName = RunningProgramName();
    if (!places.programName.isEmpty())
        places.program = QStringLiteral("/proc/self/exe");
    const QString home = UserHome();
    const QString xdgDataHome = XdgDataHome(home);
    const QString appData = AbsoluteVariable("APPDATA");
    places.dataHome = appData.isEmpty() ? xdgDataHome : appData;
    if (!xdgDataHome.isEmpty())
        places.applications = xdgDataHome + QLatin1String("/applications");
    // A desktop set to the home folder is how the user-dirs settings say "no desktop".
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!home.isEmpty() && QDir::cleanPath(desktop) != QDir::cleanPath(home))
        places.desktop = desktop;
    if (const QString helper = CIcmpTracer::HelperLocation(); QFileInfo(helper).isFile())
        places.probeHelper = helper;
    return places;
}

void InstallProgram(const InstallPlaces &places, std::stop_token stop)
{
    const QString name = places.programName.isEmpty() ? QFileInfo(places.program).fileName() : places.programName;
    if (places.program.isEmpty() || name.isEmpty())
        return LogFailure("the running program cannot be found:", places.program);
    if (places.dataHome.isEmpty())
        return LogFailure("no application-data folder:", places.dataHome);
    const QString folder = places.dataHome + u'/' + kFolderName;
    if (const int error = MakeFolders(folder))
        return LogFailure("cannot make the folder", folder, error);
    const QString copy = folder + u'/' + name;
    CopyProgram(places.program, copy, stop);
    if (stop.stop_requested() || !IsRegularFile(copy))
        return; // the copy's failure is logged; a launcher must not point at nothing
    const QString icon = copy + QLatin1String(".png");
    SaveIcon(icon);
    LinkProbeHelper(places.probeHelper, folder);
    WriteLaunchers(places, LauncherText(copy, icon));
}

CInstaller::CInstaller(std::stop_token stop)
{
    InstallProgram(InstallPlacesFromEnvironment(), std::move(stop));
}
