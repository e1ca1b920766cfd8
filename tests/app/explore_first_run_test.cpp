// The first-run steps of an exploration: the welcome notice, then the setup (which shows its
// own notice first), then the map window starting from the point the setup stored.
#include "geo/home_location.h"
#include "base/wait.h"
#include "first_run_watch.h"
#include "app/main_dialog.h"
#include "geo/setup.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quokka::app;
using quokka::geo::CWorldMap;
using quokka::geo::CSetup;
using quokka::geo::HomeLocation;

namespace {

class ExploreFirstRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The installer of a first run writes under these; the profile lives here too.
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "APPDATA", "XDG_DESKTOP_DIR"})
            qunsetenv(name);
        qputenv("HOME", m_dir.path().toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath("config"));
    }

    // Explores an empty name: it resolves to nothing, so the run ends after opening its windows.
    void Explore(CQuokkaQuokkaDlg &dialog)
    {
        const QMetaObject::Connection following = m_watch.Follow(dialog);
        QSignalSpy finished(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished);
        ExplorationServices services = ExplorationServices::Real();
        services.timings = {2000, 100, 100}; // short notices
        dialog.SetServices(std::move(services));
        dialog.StartExploration(QString());
        EXPECT_TRUE(finished.count() == 1 || finished.wait(30000));
        QObject::disconnect(following);
    }

    QTemporaryDir m_dir;
    FirstRunWatch m_watch;
    QStringList &m_seen = m_watch.seen;
};

} // namespace

TEST_F(ExploreFirstRunTest, WelcomesThenAsksForTheHomeAndStartsTheMapThere)
{
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    CSetup::SetNextAnswer(CSetup::Answer{false, {422, 220}});
    Explore(dialog);
    EXPECT_EQ(m_seen.join(" | ").toStdString(),
              "Welcome to quokka quokka setup! | Left click on your exact location | setup");
    EXPECT_EQ(HomeLocation::Read().Encode(), QByteArray::fromHex("a6010000dc000000"));
    ASSERT_TRUE(dialog.WorldMap());
    EXPECT_TRUE(dialog.WorldMap()->isVisible());
    EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(422, 220));

    // Home stored: the next run goes straight to a new map window of its own.
    m_seen.clear();
    CWorldMap *first = dialog.WorldMap();
    Explore(dialog);
    EXPECT_TRUE(m_seen.isEmpty()) << m_seen.join(" | ").toStdString();
    EXPECT_NE(dialog.WorldMap(), first);
    EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(422, 220));
}

TEST_F(ExploreFirstRunTest, ASetupLeftWithEscGoesOnFromTheOriginAndAsksAgainNextTime)
{
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    CSetup::SetNextAnswer(CSetup::Answer{true, {}});
    Explore(dialog);
    ASSERT_TRUE(dialog.WorldMap());
    EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(0, 0));
    EXPECT_FALSE(HomeLocation::Read().IsSet());

    m_seen.clear();
    CSetup::SetNextAnswer(CSetup::Answer{false, {30, 40}});
    Explore(dialog);
    EXPECT_TRUE(m_seen.startsWith("Welcome to quokka quokka setup!")) << m_seen.join(" | ").toStdString();
    EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(30, 40));
}
