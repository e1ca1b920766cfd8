// The installer inside an exploration: it runs while no home point is stored, and only then.
#include "install_fixture.h"

#include "geo/home_location.h"
#include "app/main_dialog.h"
#include "geo/setup.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

using namespace quokka::app;
using quokka::geo::CSetup;
using quokka::geo::HomeLocation;

namespace {

class FirstRunTest : public InstallFixture {
protected:
    void SetUp() override
    {
        InstallFixture::SetUp();
        MakeFolder(Home() + "/Desktop");
        // A setup window, where there is one, answers with a click on the map.
        CSetup::SetStandingAnswer(CSetup::Answer{false, {450, 268}});
    }
    void TearDown() override
    {
        CSetup::SetStandingAnswer(std::nullopt);
        InstallFixture::TearDown();
    }

    // Explores an empty name (it resolves to nothing, so the run ends after the first-run
    // steps) and waits for the run to end.
    static void Explore()
    {
        CQuokkaQuokkaDlg dialog;
        dialog.show();
        QSignalSpy finished(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished);
        dialog.StartExploration(QString());
        ASSERT_TRUE(finished.count() == 1 || finished.wait(60000));
    }

    QString Copy() const
    {
        const QString name = QFileInfo(QFile::symLinkTarget("/proc/self/exe")).fileName();
        return Home() + "/.local/share/Quokka Quokka/" + name;
    }
    QString DesktopLauncher() const { return Home() + "/Desktop/Quokka Quokka.desktop"; }
    QString MenuLauncher() const { return Home() + "/.local/share/applications/Quokka Quokka.desktop"; }
};

TEST_F(FirstRunTest, installsOnTheFirstExplorationAndNotOnceAHomeIsStored)
{
    ASSERT_FALSE(HomeLocation::Read().IsSet());
    Explore();
    EXPECT_TRUE(ReadFile(Copy()) == ReadFile(QFile::symLinkTarget("/proc/self/exe")));
    for (const QString &launcher : {DesktopLauncher(), MenuLauncher()}) {
        const auto exec = ExecArguments(Launcher(launcher).Value("Desktop Entry", "Exec"));
        ASSERT_TRUE(exec.has_value()) << launcher.toStdString();
        EXPECT_EQ(*exec, QStringList{Copy()});
    }

    for (const QString &path : {Copy(), DesktopLauncher(), MenuLauncher()})
        ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(HomeLocation::Write(HomeLocation{450, 268}));
    Explore();
    EXPECT_FALSE(Exists(Copy()));
    EXPECT_FALSE(Exists(DesktopLauncher()));
    EXPECT_FALSE(Exists(MenuLauncher()));
}

} // namespace
