// Where the installer puts things for the running program, read from the user's environment,
// and the whole installation of the running program by constructing the installer.
#include "install_fixture.h"

#include <QFile>
#include <QFileInfo>

using namespace quokka::app;

namespace {

class InstallPlacesTest : public InstallFixture {
protected:
    QString Share() const { return Home() + "/.local/share"; }
};

struct EnvironmentCase {
    const char *name;
    const char *appData;       // nullptr: unset; paths are inside the temporary folder
    const char *xdgDataHome;   // nullptr: unset
    const char *desktopDir;    // XDG_DESKTOP_DIR in user-dirs.dirs; nullptr: no such file
    bool configHomeSet;        // user-dirs.dirs under XDG_CONFIG_HOME rather than ~/.config
    const char *expectedData;  // relative to the temporary folder
    const char *expectedMenu;
    const char *expectedDesktop; // empty: none
};

const EnvironmentCase kCases[] = {
    {"nothing set", nullptr, nullptr, nullptr, false,
     "home/.local/share", "home/.local/share/applications", "home/Desktop"},
    {"APPDATA only", "appdata", nullptr, nullptr, false,
     "appdata", "home/.local/share/applications", "home/Desktop"},
    {"XDG_DATA_HOME only", nullptr, "xdg-data", nullptr, false,
     "xdg-data", "xdg-data/applications", "home/Desktop"},
    {"both data folders", "appdata", "xdg-data", nullptr, false,
     "appdata", "xdg-data/applications", "home/Desktop"},
    {"desktop in ~/.config", nullptr, nullptr, "$HOME/Escritorio", false,
     "home/.local/share", "home/.local/share/applications", "home/Escritorio"},
    {"desktop under XDG_CONFIG_HOME", "appdata", "xdg-data", "$HOME/Bureau", true,
     "appdata", "xdg-data/applications", "home/Bureau"},
    {"desktop switched off", nullptr, nullptr, "$HOME/", true,
     "home/.local/share", "home/.local/share/applications", ""},
};

TEST_F(InstallPlacesTest, followsTheEnvironmentInEachCombination)
{
    for (const EnvironmentCase &c : kCases) {
        SCOPED_TRACE(c.name);
        for (const char *name : {"APPDATA", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            UnsetVariable(name);
        QFile::remove(Home() + "/.config/user-dirs.dirs");
        if (c.appData)
            SetVariable("APPDATA", Path(c.appData));
        if (c.xdgDataHome)
            SetVariable("XDG_DATA_HOME", Path(c.xdgDataHome));
        const QString config = c.configHomeSet ? Path("config") : Home() + "/.config";
        if (c.configHomeSet)
            SetVariable("XDG_CONFIG_HOME", config);
        if (c.desktopDir) {
            MakeFolder(config);
            WriteFile(config + "/user-dirs.dirs", QByteArray("XDG_DESKTOP_DIR=\"") + c.desktopDir + "\"\n");
        }

        const InstallPlaces places = InstallPlacesFromEnvironment();
        EXPECT_EQ(places.dataHome, Path(c.expectedData));
        EXPECT_EQ(places.applications, Path(c.expectedMenu));
        EXPECT_EQ(places.desktop, *c.expectedDesktop ? Path(c.expectedDesktop) : QString());
    }
}

TEST_F(InstallPlacesTest, ignoresEmptyAndRelativeFolderVariables)
{
    SetVariable("APPDATA", QString());
    SetVariable("XDG_DATA_HOME", QStringLiteral("relative/share"));
    // The desktop comes from the user-dirs settings, never from a variable of that name.
    SetVariable("XDG_DESKTOP_DIR", Path("elsewhere"));

    const InstallPlaces places = InstallPlacesFromEnvironment();
    EXPECT_EQ(places.dataHome, Share());
    EXPECT_EQ(places.applications, Share() + "/applications");
    EXPECT_EQ(places.desktop, Home() + "/Desktop");
}

TEST_F(InstallPlacesTest, namesTheRunningProgram)
{
    const InstallPlaces places = InstallPlacesFromEnvironment();
    EXPECT_EQ(places.program, QStringLiteral("/proc/self/exe"));
    EXPECT_EQ(places.programName, QFileInfo(QFile::symLinkTarget("/proc/self/exe")).fileName());
}

TEST_F(InstallPlacesTest, constructingTheInstallerInstallsTheRunningProgram)
{
    MakeFolder(Home() + "/Desktop");
    SetVariable("APPDATA", Path("appdata"));
    const QString running = QFile::symLinkTarget("/proc/self/exe");
    const QString copy = Path("appdata/Quokka Quokka/") + QFileInfo(running).fileName();

    delete new CInstaller;

    EXPECT_TRUE(ReadFile(copy) == ReadFile(running));
    EXPECT_EQ(Mode(copy), Mode(running) & 0777);
    for (const QString &launcher : {Home() + "/Desktop/Quokka Quokka.desktop",
                                    Share() + "/applications/Quokka Quokka.desktop"}) {
        const auto exec = ExecArguments(Launcher(launcher).Value("Desktop Entry", "Exec"));
        ASSERT_TRUE(exec.has_value()) << launcher.toStdString();
        EXPECT_EQ(*exec, QStringList{copy});
    }
    EXPECT_TRUE(LogLines().isEmpty()) << LogLines().join(u'\n').toStdString();
}

} // namespace
