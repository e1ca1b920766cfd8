#include "app/installer.h"

#include "app/launcher_entry.h"
#include "base/debug_log.h"
#include "base/unique_fd.h"
#include "trace/icmp_tracer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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

using quokka::trace::CIcmpTracer;

namespace quokka::app {

namespace {

constexpr QLatin1String kFolderName("Quokka Quokka");
constexpr QLatin1String kLauncherName("Quokka Quokka");
constexpr QLatin1String kLauncherFile("Quokka Quokka.desktop");
constexpr QLatin1String kIconResource(":/res/icon.png");

// One line in the debug log for a failed step: what failed, where, and the system's reason.
void LogFailure(const char *what, const QString &path, const QString &reason = {})
{
    if (!reason.isEmpty())
        qCDebug(quokka::lcQuokka) << "Installer:" << what << path << qUtf8Printable(reason);
    else
        qCDebug(quokka::lcQuokka) << "Installer:" << what << path;
}

void LogFailure(const char *what, const QString &path, int error)
{
    LogFailure(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

// Makes PATH and any missing folder above it, the new ones private to the user (as the XDG
// rules ask). True when PATH is a folder afterwards.
bool MakeFolders(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    QStringList missing;
    for (QString folder = clean; !QFileInfo::exists(folder); folder = QFileInfo(folder).path()) {
        if (!missing.isEmpty() && missing.front() == folder)
            break; // the root of a missing relative path
        missing.prepend(folder);
    }
    for (const QString &folder : std::as_const(missing))
        QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return QFileInfo(clean).isDir();
}

// The permission bits of MODE as Qt names them.
QFile::Permissions PermissionsOf(mode_t mode)
{
    return QFile::Permissions::fromInt(int((mode & 0700) << 6 | (mode & 070) << 1 | (mode & 07)));
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
    QSaveFile copy(target);
    if (!copy.open(QIODevice::WriteOnly))
        return LogFailure("cannot create a file beside", target, copy.errorString());
    if (const int error = KernelCopy(source.Get(), copy.handle(), info.st_size, stop))
        return LogFailure("cannot copy the program to", target, error);
    if (stop.stop_requested())
        return LogFailure("the copy was stopped before it was put in place at", target);
    if (!copy.setPermissions(PermissionsOf(info.st_mode)) || !copy.commit())
        return LogFailure("cannot put the copy in place at", target, copy.errorString());
}

// Writes BYTES as the file PATH with MODE, replacing an earlier file in one step.
void WriteWholeFile(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return LogFailure("cannot create a file beside", path, file.errorString());
    if (!file.setPermissions(PermissionsOf(mode)) || file.write(bytes) != bytes.size() || !file.commit())
        return LogFailure("cannot write", path, file.errorString());
}

void SaveIcon(const QString &path)
{
    QFile resource(kIconResource);
    if (!resource.open(QIODevice::ReadOnly))
        return LogFailure("the application icon is missing from", kIconResource);
    WriteWholeFile(path, resource.readAll(), 0644);
}

// The launcher of the copied PROGRAM, showing ICON.
QByteArray LauncherText(const QString &program, const QString &icon)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QLatin1String("Name=") + kLauncherName + u'\n';
    text += QLatin1String("Comment=") + kLauncherName + u'\n';
    text += QLatin1String("Exec=") + LauncherExec(program) + u'\n';
    text += QLatin1String("Icon=") + LauncherValue(icon) + u'\n';
    text += QLatin1String("Terminal=false\n");
    return text.toUtf8();
}

void WriteLaunchers(const InstallPlaces &places, const QByteArray &launcher)
{
    if (places.desktop.isEmpty() || !QFileInfo(places.desktop).isDir())
        LogFailure("no desktop folder for the launcher:", places.desktop);
    else
        WriteWholeFile(places.desktop + u'/' + kLauncherFile, launcher, 0755);

    if (places.applications.isEmpty())
        LogFailure("no applications folder for the launcher:", places.applications);
    else if (!MakeFolders(places.applications))
        LogFailure("cannot make the folder", places.applications);
    else
        WriteWholeFile(places.applications + u'/' + kLauncherFile, launcher, 0755);
}

QString AbsoluteVariable(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? value : QString();
}

// The home folder as Qt names it ($HOME). Qt names the root folder when HOME is unset or
// empty, and takes a relative one as it is: then the user's entry in the password database
// tells, so that no per-user folder ends up at the root or in the current folder.
QString UserHome()
{
    if (QDir::isAbsolutePath(qEnvironmentVariable("HOME")))
        return QDir::homePath();
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? QFile::decodeName(entry->pw_dir) : QString();
}

// XDG_DATA_HOME when it is an absolute path, else ~/.local/share. (Qt's GenericDataLocation
// takes a relative XDG_DATA_HOME as it is, which the XDG rules ignore.)
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
    if (!MakeFolders(folder))
        return LogFailure("cannot make the folder", folder);
    const QString copy = folder + u'/' + name;
    CopyProgram(places.program, copy, stop);
    if (stop.stop_requested() || !QFileInfo(copy).isFile())
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

} // namespace quokka::app
