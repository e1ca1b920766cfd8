// The installer's files: the copy, the icon and the two launchers, in folders made by the test.
#include "install_fixture.h"

#include "app/launcher_entry.h"

#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace quokka::app;

namespace {

const QString kFolder = QStringLiteral("/Quokka Quokka");
const QString kLauncher = QStringLiteral("/Quokka Quokka.desktop");

class InstallFilesTest : public InstallFixture {
protected:
    // Checks that both launchers are well formed, alike, runnable and start COPY.
    void ExpectLaunchersFor(const InstallPlaces &places, const QString &copy)
    {
        const QString desktop = places.desktop + kLauncher;
        const QString menu = places.applications + kLauncher;
        EXPECT_EQ(ReadFile(desktop), ReadFile(menu));
        for (const QString &path : {desktop, menu}) {
            SCOPED_TRACE(path.toStdString());
            EXPECT_EQ(Mode(path) & 0111, 0111u);
            const DesktopEntry entry = Launcher(path);
            const auto value = [&entry](const char *key) {
                return entry.Value(QStringLiteral("Desktop Entry"), QString::fromLatin1(key)).toStdString();
            };
            EXPECT_EQ(value("Type"), "Application");
            EXPECT_EQ(value("Name"), "Quokka Quokka");
            EXPECT_EQ(value("Comment"), "Quokka Quokka");
            EXPECT_EQ(value("Terminal"), "false");
            EXPECT_EQ(value("Icon"), (copy + QStringLiteral(".png")).toStdString());
            const auto arguments = ExecArguments(QString::fromStdString(value("Exec")));
            ASSERT_TRUE(arguments.has_value()) << value("Exec");
            EXPECT_EQ(*arguments, QStringList{copy});
        }
    }

    static void ExpectValid(const QString &launcher)
    {
        std::string output;
        const int status = testsupport::Run("desktop-file-validate '" + launcher.toStdString() + "' 2>&1", &output);
        EXPECT_EQ(status, 0) << output;
        EXPECT_EQ(output.find("error"), std::string::npos) << output;
    }
};

TEST_F(InstallFilesTest, copiesTheProgramWithItsRunBitsAndTheIconBesideIt)
{
    const InstallPlaces places = MadePlaces(ProgramBytes(), 0751);
    InstallProgram(places);

    const QString folder = places.dataHome + kFolder;
    EXPECT_EQ(Entries(folder), (QStringList{"quokka-quokka", "quokka-quokka.png"})); // no leftovers
    EXPECT_TRUE(ReadFile(folder + "/quokka-quokka") == ProgramBytes());
    EXPECT_EQ(Mode(folder + "/quokka-quokka"), 0751u);
    ASSERT_FALSE(IconBytes().isEmpty());
    EXPECT_TRUE(ReadFile(folder + "/quokka-quokka.png") == IconBytes());
    EXPECT_TRUE(LogLines().isEmpty()) << LogLines().join(u'\n').toStdString();
}

// A capability stays with its file, so the copy gets a link to the helper the original uses;
// a second install points the link anew, and a helper that is gone is said in the log.
TEST_F(InstallFilesTest, linksTheProbeHelperBesideTheCopy)
{
    InstallPlaces places = MadePlaces();
    const QString folder = places.dataHome + kFolder;
    ASSERT_TRUE(QDir().mkpath(places.dataHome));
    for (const char *name : {"/helper-one", "/helper-two"}) {
        places.probeHelper = places.dataHome + name;
        QFile helper(places.probeHelper);
        ASSERT_TRUE(helper.open(QIODevice::WriteOnly));
        helper.close();
        InstallProgram(places);
        EXPECT_EQ(QFileInfo(folder + "/quokka-quokka-probe").symLinkTarget(), places.probeHelper) << name;
        EXPECT_EQ(Entries(folder), (QStringList{"quokka-quokka", "quokka-quokka-probe", "quokka-quokka.png"}));
        EXPECT_TRUE(LogLines().isEmpty()) << LogLines().join(u'\n').toStdString();
    }
    places.probeHelper = places.dataHome + "/gone";
    InstallProgram(places);
    EXPECT_EQ(LogLines().size(), 1) << LogLines().join(u'\n').toStdString();
}

TEST_F(InstallFilesTest, writesLaunchersOnTheDesktopAndInTheMenuThatStartTheCopy)
{
    const InstallPlaces places = MadePlaces();
    InstallProgram(places);

    ExpectLaunchersFor(places, places.dataHome + kFolder + "/quokka-quokka");
    EXPECT_EQ(Entries(places.desktop), QStringList{"Quokka Quokka.desktop"});
    EXPECT_EQ(Entries(places.applications), QStringList{"Quokka Quokka.desktop"});
    ExpectValid(places.desktop + kLauncher);
    ExpectValid(places.applications + kLauncher);
}

TEST_F(InstallFilesTest, quotesFolderNamesThatHoldCharactersTheLauncherRulesReserve)
{
    InstallPlaces places = MadePlaces();
    places.dataHome = Path(QStringLiteral("odd $HOME \"q\" `b` back\\slash 100% tab\there"));
    InstallProgram(places);

    const QString copy = places.dataHome + kFolder + "/quokka-quokka";
    ASSERT_TRUE(ReadFile(copy) == ProgramBytes());
    ExpectLaunchersFor(places, copy);
    ExpectValid(places.desktop + kLauncher);
    ExpectValid(places.applications + kLauncher);
}

TEST_F(InstallFilesTest, copiesFromAnotherFileSystem)
{
    // A program on tmpfs copied to the test's folder: the kernel refuses copy_file_range
    // between different file systems, so the copy takes its other kernel path.
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/quokka-install-XXXXXX"));
    InstallPlaces places = MadePlaces();
    struct stat there {}, here {};
    if (!elsewhere.isValid() || ::stat("/dev/shm", &there) != 0 || ::stat(QFile::encodeName(Path("bin")), &here) != 0
        || there.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    places.program = elsewhere.path() + "/quokka-quokka";
    WriteFile(places.program, ProgramBytes(), 0751);
    InstallProgram(places);

    EXPECT_TRUE(ReadFile(places.dataHome + kFolder + "/quokka-quokka") == ProgramBytes());
    EXPECT_EQ(Mode(places.dataHome + kFolder + "/quokka-quokka"), 0751u);
    EXPECT_TRUE(LogLines().isEmpty()) << LogLines().join(u'\n').toStdString();
}

// A file system mounted from an image for the length of a test (root, a loop device and
// mkfs.xfs); Mounted() is false where any of them is missing.
class LoopMount {
public:
    explicit LoopMount(const QString &folder) : m_point(folder.toStdString() + "/mount")
    {
        const std::string image = folder.toStdString() + "/image";
        std::string output;
        m_mounted = ::geteuid() == 0
            && testsupport::Run("mkdir -p '" + m_point + "' && truncate -s 320M '" + image + "' && mkfs.xfs -q -m reflink=1 '"
                                    + image + "' && mount -o loop '" + image + "' '" + m_point + "' 2>&1",
                                &output)
                == 0;
    }
    ~LoopMount()
    {
        if (m_mounted)
            testsupport::Run("umount -l '" + m_point + "'");
    }
    bool Mounted() const { return m_mounted; }
    QString Point() const { return QString::fromStdString(m_point); }
    // Bytes in use on the file system, once what is written has reached it (XFS reserves
    // room ahead for a file being written and gives it back later).
    std::uint64_t Used() const
    {
        ::sync();
        struct statvfs info {};
        ::statvfs(m_point.c_str(), &info);
        return std::uint64_t(info.f_blocks - info.f_bfree) * info.f_frsize;
    }

private:
    std::string m_point;
    bool m_mounted = false;
};

TEST_F(InstallFilesTest, copiesAsAReflinkWhereTheFileSystemSharesBlocks)
{
    // On XFS (or btrfs) the copy shares the program's blocks: the first run's copy of the
    // 400 MB program then costs next to no space.
    LoopMount xfs(Path("xfs"));
    if (!xfs.Mounted())
        GTEST_SKIP() << "no XFS file system can be mounted here (root, a loop device and mkfs.xfs are needed)";
    InstallPlaces places = MadePlaces();
    places.program = xfs.Point() + "/quokka-quokka";
    places.dataHome = xfs.Point() + "/data";
    QByteArray program(64 << 20, '\0');
    for (int i = 0; i < program.size(); i += 4096)
        program[i] = char(i / 4096); // not all zeros, so no file system could skip it
    WriteFile(places.program, program, 0751);
    const std::uint64_t before = xfs.Used();
    InstallProgram(places);

    EXPECT_TRUE(ReadFile(places.dataHome + kFolder + "/quokka-quokka") == program);
    EXPECT_EQ(Mode(places.dataHome + kFolder + "/quokka-quokka"), 0751u);
    const std::uint64_t after = xfs.Used();
    EXPECT_LT(after, before + (std::uint64_t(8) << 20)) << "the copy took space of its own: "
                                                          << (after - before) / 1024 << " KiB";
    EXPECT_TRUE(LogLines().isEmpty()) << LogLines().join(u'\n').toStdString();
}

TEST_F(InstallFilesTest, aSecondRunReplacesTheCopyAndTheLaunchers)
{
    const InstallPlaces places = MadePlaces();
    const QString folder = places.dataHome + kFolder;
    MakeFolder(folder);
    MakeFolder(places.applications);
    WriteFile(folder + "/quokka-quokka", "an older program", 0600);
    WriteFile(folder + "/quokka-quokka.png", "an older icon");
    WriteFile(places.desktop + kLauncher, "not a launcher");
    WriteFile(places.applications + kLauncher, "[Desktop Entry]\nExec=/elsewhere\n");

    InstallProgram(places);
    InstallProgram(places);

    EXPECT_TRUE(ReadFile(folder + "/quokka-quokka") == ProgramBytes());
    EXPECT_EQ(Mode(folder + "/quokka-quokka"), 0751u);
    EXPECT_TRUE(ReadFile(folder + "/quokka-quokka.png") == IconBytes());
    EXPECT_EQ(Entries(folder).size(), 2);
    ExpectLaunchersFor(places, folder + "/quokka-quokka");
    EXPECT_EQ(Entries(places.desktop), QStringList{"Quokka Quokka.desktop"});
}

// A stop (the program closing) ends the install before anything is put in place.
TEST_F(InstallFilesTest, aStoppedInstallLeavesTheEarlierFilesAsTheyWere)
{
    const InstallPlaces places = MadePlaces();
    const QString folder = places.dataHome + kFolder;
    MakeFolder(folder);
    WriteFile(folder + "/quokka-quokka", "an older program", 0600);
    std::stop_source stop;
    stop.request_stop();
    InstallProgram(places, stop.get_token());

    EXPECT_EQ(Entries(folder), QStringList{"quokka-quokka"});
    EXPECT_EQ(ReadFile(folder + "/quokka-quokka"), "an older program");
    EXPECT_TRUE(Entries(places.desktop).isEmpty());
}

TEST_F(InstallFilesTest, theInstalledCopyReinstallingItselfStaysIntact)
{
    InstallPlaces places = MadePlaces();
    InstallProgram(places);
    places.program = places.dataHome + kFolder + "/quokka-quokka";
    InstallProgram(places);

    EXPECT_TRUE(ReadFile(places.program) == ProgramBytes());
    EXPECT_EQ(Mode(places.program), 0751u);
    ExpectLaunchersFor(places, places.program);
}

TEST_F(InstallFilesTest, aDataFolderThatCannotBeMadeLeavesNoCopyAndNoLauncher)
{
    // Under a regular file no folder can be made, whoever runs the test.
    InstallPlaces places = MadePlaces();
    WriteFile(Path("plain-file"), "not a folder");
    places.dataHome = Path("plain-file/data");
    places.applications = Path("menu/applications");
    InstallProgram(places);

    EXPECT_FALSE(Exists(places.dataHome));
    EXPECT_TRUE(Entries(places.desktop).isEmpty());
    EXPECT_FALSE(Exists(places.applications));
    ASSERT_EQ(LogLines().size(), 1) << LogLines().join(u'\n').toStdString();
    EXPECT_TRUE(LogLines().front().contains("plain-file/data/Quokka Quokka")) << LogLines().front().toStdString();
}

TEST_F(InstallFilesTest, aProgramThatCannotBeReadLeavesNoLauncher)
{
    InstallPlaces places = MadePlaces();
    places.program = Path("bin/missing");
    places.programName = QStringLiteral("quokka-quokka");
    InstallProgram(places);

    EXPECT_TRUE(Entries(places.dataHome + kFolder).isEmpty());
    EXPECT_TRUE(Entries(places.desktop).isEmpty());
    EXPECT_FALSE(Exists(places.applications));
    EXPECT_EQ(LogLines().size(), 1) << LogLines().join(u'\n').toStdString();
}

TEST_F(InstallFilesTest, aMissingDesktopFolderStillLeavesTheCopyAndTheMenuLauncher)
{
    InstallPlaces places = MadePlaces();
    places.desktop = Path("no-such-desktop");
    InstallProgram(places);

    const QString copy = places.dataHome + kFolder + "/quokka-quokka";
    EXPECT_TRUE(ReadFile(copy) == ProgramBytes());
    EXPECT_FALSE(Exists(places.desktop));
    EXPECT_FALSE(ParseDesktopEntry(ReadFile(places.applications + kLauncher)).groups.empty());
    ASSERT_EQ(LogLines().size(), 1) << LogLines().join(u'\n').toStdString();
    EXPECT_TRUE(LogLines().front().contains("no-such-desktop"));
}

TEST_F(InstallFilesTest, aMenuFolderThatCannotBeMadeStillLeavesTheDesktopLauncher)
{
    InstallPlaces places = MadePlaces();
    WriteFile(Path("plain-file"), "not a folder");
    places.applications = Path("plain-file/applications");
    InstallProgram(places);

    EXPECT_TRUE(Exists(places.dataHome + kFolder + "/quokka-quokka"));
    EXPECT_FALSE(ParseDesktopEntry(ReadFile(places.desktop + kLauncher)).groups.empty());
    EXPECT_EQ(LogLines().size(), 1) << LogLines().join(u'\n').toStdString();
}

// The Exec value both the first run's launchers and the installed menu entry use: a plain path
// stays as it is, any other is quoted, and each starts exactly the program it names.
TEST(LauncherExec, StartsTheProgramItNames)
{
    const struct {
        const char *program;
        const char *exec; // the exact value, or nullptr where only its meaning is checked
    } rows[] = {
        {"/usr/bin/quokka-quokka", "/usr/bin/quokka-quokka"},
        {"/opt/100%/quokka-quokka", "/opt/100%%/quokka-quokka"},
        {"/opt/a b/quokka-quokka", "\"/opt/a b/quokka-quokka\""},
        {"/tmp/$HOME \"q\" `b` back\\slash 'x' (y) #z ~ | & ; * ?/tab\there/line\nend/quokka-quokka", nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.program);
        const QString exec = LauncherExec(QString::fromUtf8(row.program));
        if (row.exec) {
            EXPECT_EQ(exec.toStdString(), row.exec);
        }
        const DesktopEntry entry = ParseDesktopEntry("[Desktop Entry]\nExec=" + exec.toUtf8() + '\n');
        ASSERT_EQ(entry.error.toStdString(), "");
        const auto arguments = ExecArguments(entry.Value(QStringLiteral("Desktop Entry"), QStringLiteral("Exec")));
        ASSERT_TRUE(arguments.has_value()) << exec.toStdString();
        EXPECT_EQ(*arguments, QStringList{QString::fromUtf8(row.program)});
    }
}

} // namespace
