// Output files the user names, each kind of target once: through the writing function, or
// through the program's --json and --screenshot as a user meets them (root, in a network
// namespace of its own). Devices are nodes the test makes (the numbers of null and full), so
// no case ever writes to the system's own.
#include "base/output_file.h"
#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;

std::string Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Put(const std::string &path, const std::string &text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
}

struct stat Lstat(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        st.st_mode = 0;
    return st;
}

int Sysctl(const char *name)
{
    return std::atoi(Read(std::string("/proc/sys/fs/") + name).c_str());
}

// Debian switches the kernel's link and file protections on (1); a machine that has them off
// has them on while this test runs, as root, so the cases that rely on them run everywhere.
// They only ever refuse more, so nothing else running meanwhile can be harmed by them.
class KernelProtections {
public:
    KernelProtections()
    {
        for (const char *name : {"protected_symlinks", "protected_regular"})
            if (testsupport::IsRoot() && Sysctl(name) == 0 && SetSysctl(name, 1))
                m_raised.push_back(name);
    }
    ~KernelProtections()
    {
        for (const char *name : m_raised)
            SetSysctl(name, 0);
    }

private:
    static bool SetSysctl(const char *name, int value)
    {
        FILE *file = std::fopen((std::string("/proc/sys/fs/") + name).c_str(), "w");
        if (!file)
            return false;
        const bool written = std::fprintf(file, "%d\n", value) > 0;
        return std::fclose(file) == 0 && written;
    }
    std::vector<const char *> m_raised;
};
const KernelProtections g_protections;

// A fresh folder for one case, removed afterwards.
class Folder {
public:
    Folder()
    {
        char name[] = "/tmp/quokka-output-XXXXXX";
        m_path = ::mkdtemp(name);
        ::chmod(m_path.c_str(), 0755);
    }
    ~Folder()
    {
        if (reader >= 0)
            ::close(reader);
        std::filesystem::remove_all(m_path);
    }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }
    // A world-writable sticky folder like /tmp, owned by root.
    std::string sticky() const
    {
        const std::string dir = *this / "sticky";
        ::mkdir(dir.c_str(), 0700);
        ::chmod(dir.c_str(), 01777);
        return dir;
    }

    mutable int reader = -1; // the read end of a FIFO the case made

private:
    std::string m_path;
};

// What a case needs beyond an ordinary user: root, or a protection the kernel has switched on.
enum class Needs { Nothing, Root, ProtectedSymlinks, ProtectedRegular };

bool Missing(Needs needs, std::string &why)
{
    if (needs != Needs::Nothing && !testsupport::IsRoot())
        why = "needs root";
    else if (needs == Needs::ProtectedSymlinks && Sysctl("protected_symlinks") == 0)
        why = "fs.protected_symlinks is 0 here: the kernel follows such links";
    else if (needs == Needs::ProtectedRegular && Sysctl("protected_regular") == 0)
        why = "fs.protected_regular is 0 here: the kernel opens such files";
    return !why.empty();
}

// A link owned by nobody in a sticky folder, to a file of root's elsewhere.
std::string PlantedLink(const Folder &f)
{
    Put(f / "roots", "root's own\n");
    const std::string link = f.sticky() + "/out";
    EXPECT_EQ(::symlink((f / "roots").c_str(), link.c_str()), 0);
    EXPECT_EQ(::lchown(link.c_str(), kNobody, kNobody), 0);
    return link;
}

std::string NobodysFile(const std::string &path)
{
    Put(path, "somebody else's longer text\n", 0600);
    EXPECT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
    return path;
}

std::string Device(const Folder &f, const char *name, unsigned minor)
{
    const std::string path = f / name;
    EXPECT_EQ(::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)), 0) << path;
    return path;
}

const std::string kData = "{\"domain\": \"name.invalid\"}\n";

// An own file of nobody's group, with the set-group-ID bit: a new file would have neither.
std::string GroupsFile(const std::string &path)
{
    Put(path, "old\n", 0640);
    EXPECT_EQ(::chown(path.c_str(), uid_t(-1), kNobody), 0);
    EXPECT_EQ(::chmod(path.c_str(), 02640), 0);
    return path;
}

void ExpectGroupKept(const Folder &, const std::string &path)
{
    EXPECT_EQ(Read(path), kData);
    EXPECT_EQ(Lstat(path).st_gid, kNobody);
    EXPECT_EQ(Lstat(path).st_mode & 07777, 02640u);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

struct Case {
    const char *what;
    Needs needs;
    std::function<std::string(const Folder &)> make; // the target's path
    const char *error;                                // "" for success, else part of the error
    std::function<void(const Folder &, const std::string &path)> check;
};

// Each kind of target, what WriteOutputFile says and what is there afterwards.
const std::vector<Case> &Cases()
{
    static const std::vector<Case> cases = {
        {"a missing file is made with the umask's bits", Needs::Nothing, [](const Folder &f) { return f / "new.json"; }, "",
         [](const Folder &f, const std::string &path) {
             EXPECT_EQ(Read(path), kData);
             EXPECT_EQ(Lstat(path).st_mode & 07777, 0644u);
             EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f / ""), {}), 1); // no temporary left
         }},
        {"an own file is replaced whole, keeping its bits", Needs::Nothing,
         [](const Folder &f) { Put(f / "own.json", "old\n", 0640); return f / "own.json"; }, "",
         [](const Folder &f, const std::string &path) {
             EXPECT_EQ(Read(path), kData);
             EXPECT_EQ(Lstat(path).st_mode & 07777, 0640u);
             EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f / ""), {}), 1);
         }},
        {"an own file keeps its group and set-group-ID bit", Needs::Root,
         [](const Folder &f) { return GroupsFile(f / "group.json"); }, "", ExpectGroupKept},
        {"so does one in a folder others can change", Needs::Root,
         [](const Folder &f) {
             ::mkdir((f / "shared").c_str(), 0777);
             ::chmod((f / "shared").c_str(), 0777);
             return GroupsFile(f / "shared/group.json");
         },
         "", ExpectGroupKept},
        {"a new file in a sticky folder", Needs::Nothing, [](const Folder &f) { return f.sticky() + "/new.json"; }, "",
         [](const Folder &f, const std::string &path) {
             EXPECT_EQ(Read(path), kData);
             EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f / "sticky"), {}), 1);
         }},
        {"a link to an own file stays, its target is replaced beside it", Needs::Nothing,
         [](const Folder &f) {
             ::mkdir((f / "real").c_str(), 0755);
             Put(f / "real/file.json", "old\n", 0600);
             ::symlink("real/file.json", (f / "link.json").c_str());
             return f / "link.json";
         },
         "",
         [](const Folder &f, const std::string &path) {
             EXPECT_TRUE(S_ISLNK(Lstat(path).st_mode));
             EXPECT_EQ(Read(f / "real/file.json"), kData);
             EXPECT_EQ(Lstat(f / "real/file.json").st_mode & 07777, 0600u);
             EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f / "real"), {}), 1);
         }},
        {"a link to nothing is replaced, not followed", Needs::Nothing,
         [](const Folder &f) {
             ::symlink((f / "elsewhere.json").c_str(), (f / "dangling.json").c_str());
             return f / "dangling.json";
         },
         "",
         [](const Folder &f, const std::string &path) {
             EXPECT_TRUE(S_ISREG(Lstat(path).st_mode));
             EXPECT_EQ(Read(path), kData);
             EXPECT_EQ(Lstat(f / "elsewhere.json").st_mode, 0u);
         }},
        {"a FIFO with a reader gets the data", Needs::Nothing,
         [](const Folder &f) {
             ::mkfifo((f / "fifo").c_str(), 0600);
             f.reader = ::open((f / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             return f / "fifo";
         },
         "",
         [](const Folder &f, const std::string &path) {
             EXPECT_TRUE(S_ISFIFO(Lstat(path).st_mode));
             char buffer[256] = {};
             const ssize_t got = ::read(f.reader, buffer, sizeof buffer);
             EXPECT_EQ(std::string(buffer, std::size_t(std::max<ssize_t>(got, 0))), kData);
         }},
        {"a FIFO without a reader is given up after 5 seconds", Needs::Nothing,
         [](const Folder &f) { ::mkfifo((f / "lonely").c_str(), 0600); return f / "lonely"; },
         "no program opened the FIFO for reading within 5 seconds", nullptr},
        {"a folder", Needs::Nothing, [](const Folder &f) { return f / ""; }, "Is a directory", nullptr},
        {"a missing folder", Needs::Nothing, [](const Folder &f) { return f / "none/x.json"; }, "No such file or directory", nullptr},
        {"another user's file in a sticky folder", Needs::ProtectedRegular,
         [](const Folder &f) { return NobodysFile(f.sticky() + "/theirs.json"); }, "Permission denied",
         [](const Folder &, const std::string &path) { EXPECT_EQ(Read(path), "somebody else's longer text\n"); }},
    };
    return cases;
}

TEST(OutputFile, EachKindOfTargetAsTheKernelOpensIt)
{
    const mode_t umask = ::umask(022);
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.what);
        if (std::string why; Missing(c.needs, why)) {
            std::printf("[ skipped  ] %s: %s\n", c.what, why.c_str());
            continue;
        }
        const Folder folder;
        const std::string path = c.make(folder);
        const auto start = std::chrono::steady_clock::now();
        const QString error = quokka::WriteOutputFile(QString::fromStdString(path), QByteArray::fromStdString(kData));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7));
        if (*c.error == '\0')
            EXPECT_EQ(error.toStdString(), "");
        else
            EXPECT_NE(error.toStdString().find(c.error), std::string::npos) << error.toStdString();
        if (c.check)
            c.check(folder, path);
    }
    ::umask(umask);
}

// The program with a fresh home that holds a home point explores a name that cannot resolve
// (the run ends at once with its "Cannot find" line) in a network namespace of its own, and
// writes what the arguments ask for.
TEST(OutputFile, TheProgramWritesItsReportAndPicturesThatWay)
{
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root: device nodes, another user's files and a network namespace";
    const struct {
        const char *what;
        Needs needs;
        std::function<std::string(const Folder &)> arguments; // after --quit
        int status;
        const char *message; // part of the one line on standard error, or ""
        std::function<void(const Folder &)> check;
    } cases[] = {
        {"--json to a null device", Needs::Root, [](const Folder &f) { return "--json " + Device(f, "null", 3); }, 0, "",
         [](const Folder &f) { EXPECT_TRUE(S_ISCHR(Lstat(f / "null").st_mode)); }},
        {"--json to a full device", Needs::Root, [](const Folder &f) { return "--json " + Device(f, "full", 7); }, 1,
         "full: No space left on device", [](const Folder &f) { EXPECT_TRUE(S_ISCHR(Lstat(f / "full").st_mode)); }},
        {"--json to another user's file", Needs::Root, [](const Folder &f) { return "--json " + NobodysFile(f / "theirs.json"); },
         0, "", [](const Folder &f) {
             EXPECT_EQ(Lstat(f / "theirs.json").st_uid, kNobody);
             EXPECT_NE(Read(f / "theirs.json").find("\"domain\": \"name.invalid\""), std::string::npos);
         }},
        {"--json through a link planted in a sticky folder", Needs::ProtectedSymlinks,
         [](const Folder &f) { return "--json " + PlantedLink(f); }, 1, ": Permission denied",
         [](const Folder &f) { EXPECT_EQ(Read(f / "roots"), "root's own\n"); }},
        {"--screenshot into a folder that is a link", Needs::Root,
         [](const Folder &f) {
             ::mkdir((f / "pictures").c_str(), 0755);
             ::symlink("pictures", (f / "shots").c_str());
             return "--screenshot " + f / "shots";
         },
         0, "", [](const Folder &f) {
             EXPECT_TRUE(S_ISLNK(Lstat(f / "shots").st_mode));
             for (const char *name : {"map.png", "trace.png", "whois.png"})
                 EXPECT_EQ(Read(f / "pictures/" + name).substr(0, 4), "\x89PNG") << name;
         }},
        {"--screenshot where a picture cannot be written", Needs::Root,
         [](const Folder &f) {
             ::mkdir((f / "shots").c_str(), 0755);
             ::mkdir((f / "shots/map.png").c_str(), 0755);
             return "--screenshot " + f / "shots";
         },
         1, "the screenshot could not be written to ", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string why; Missing(c.needs, why)) {
            std::printf("[ skipped  ] %s: %s\n", c.what, why.c_str());
            continue;
        }
        const Folder folder;
        ::mkdir((folder / "home").c_str(), 0700);
        ::mkdir((folder / "run").c_str(), 0700);
        const std::string env = "env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u DISPLAY -u QUOKKA_GEO_TABLE -u QUOKKA_AS_TABLE HOME='"
            + folder / "home" + "' XDG_RUNTIME_DIR='" + folder / "run" + "' QT_QPA_PLATFORM=offscreen ";
        ASSERT_EQ(testsupport::Run(env + "'" QUOKKA_PROGRAM "' --home 1,1"), 0);
        const std::string arguments = c.arguments(folder);
        std::string out;
        const int status = testsupport::Run(env + "timeout 60 unshare -n '" QUOKKA_PROGRAM
                                                  "' --explore name.invalid --quit --report "
                                            + arguments + " 2>'" + folder / "stderr" + "'",
                                            &out);
        const std::string err = Read(folder / "stderr");
        EXPECT_EQ(status, c.status) << err;
        EXPECT_NE(out.find("trace\tCannot find"), std::string::npos) << out;
        if (*c.message == '\0') {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_NE(err.find(c.message), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        }
        if (c.check)
            c.check(folder);
    }
}

} // namespace
