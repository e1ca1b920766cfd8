// Profiles that cannot be trusted: a settings file that is corrupt, a home value of the wrong
// length or type, and a profile folder that cannot be written (also not by root). The real
// exploration reads each as no home and runs its first-run steps; a click that can be stored
// replaces the bad value, and one that cannot leaves the next exploration asking again.
#include "geo/home_location.h"
#include "base/wait.h"
#include "first_run_watch.h"
#include "app/main_dialog.h"
#include "geo/setup.h"
#include "test_support.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quokka::app;
using quokka::geo::CSetup;
using quokka::geo::HomeLocation;

namespace {

const QString kProfileFolder = QStringLiteral("Local AppWizard-Generated Applications");
const QByteArray kLondonBytes = QByteArray::fromHex("a6010000dc000000"); // (422, 220)

// A profile file's whole text, written as it stands, and why it counts as no home.
struct BadProfile {
    const char *why;
    QByteArray text;
};

// NUL and bytes that are not text, in the middle of what looks like a section and a key.
const char kGarbage[] = "\x00\x01\xFF\xFE garbage\n[quokka\n\x7F\x80" "Data";

std::vector<BadProfile> CorruptOrMistypedProfiles()
{
    return {
        {"binary garbage", QByteArray(kGarbage, sizeof kGarbage - 1)},
        {"cut in the middle of the value", "[quokka]\nData=@ByteArray(\\xa6\\x1\\0"},
        {"an empty file", ""},
        {"seven bytes", "[quokka]\nData=@ByteArray(\\xa6\\x1\\0\\0\\xdc\\0\\0)\n"},
        {"nine bytes", "[quokka]\nData=@ByteArray(\\xa6\\x1\\0\\0\\xdc\\0\\0\\0\\0)\n"},
        {"eight bytes of (0, 0)", "[quokka]\nData=@ByteArray(\\0\\0\\0\\0\\0\\0\\0\\0)\n"},
        {"an integer", "[quokka]\nData=@Variant(\\0\\0\\0\\x2\\0\\0\\x1\\xa6)\n"},
        {"text of eight characters", "[quokka]\nData=12345678\n"},
        {"a point", "[quokka]\nData=@Point(422 220)\n"},
        {"a list", "[quokka]\nData=422, 220\n"},
    };
}

class HostileProfileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The explored name is empty, so nothing is looked up; a namespace of its own makes
        // sure no packet could leave even if that changed.
        if (testsupport::IsRoot()) {
            ASSERT_TRUE(testsupport::IsolateNetwork());
        }
    }

    void SetUp() override
    {
        CSetup::SetStandingAnswer(CSetup::Answer{false, {422, 220}});
    }
    void TearDown() override
    {
        CSetup::SetStandingAnswer(std::nullopt);
    }

    // A fresh home for the installer of a first run, and CONFIG as the profile root.
    void UseFolders(const QTemporaryDir &home, const QString &config)
    {
        for (const char *name : {"XDG_DATA_HOME", "APPDATA", "XDG_DESKTOP_DIR"})
            qunsetenv(name);
        qputenv("HOME", home.path().toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    }

    static QString ProfilePath(const QString &config)
    {
        return config + u'/' + kProfileFolder + u'/' + QCoreApplication::applicationName() + ".conf";
    }

    // Explores an empty name and returns the notices and setup windows it showed, in order.
    QString Explore(CQuokkaQuokkaDlg &dialog)
    {
        m_seen.clear();
        const QMetaObject::Connection following = m_watch.Follow(dialog);
        QSignalSpy finished(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished);
        ExplorationServices services = ExplorationServices::Real();
        services.timings = {2000, 50, 50}; // short notices
        dialog.SetServices(std::move(services));
        dialog.StartExploration(QString());
        EXPECT_TRUE(finished.count() == 1 || finished.wait(30000));
        QObject::disconnect(following);
        return m_seen.join(QStringLiteral(" | "));
    }

    static inline const QString kFirstRunSteps =
        QStringLiteral("Welcome to quokka quokka setup! | Left click on your exact location | setup");

    FirstRunWatch m_watch;
    QStringList &m_seen = m_watch.seen;
};

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(HostileProfileTest, ABadValueReadsAsNoHomeAndTheClickReplacesIt)
{
    for (const BadProfile &bad : CorruptOrMistypedProfiles()) {
        SCOPED_TRACE(bad.why);
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const QString config = home.filePath("config");
        UseFolders(home, config);
        ASSERT_TRUE(WriteFile(ProfilePath(config), bad.text));
        EXPECT_FALSE(HomeLocation::Read().IsSet());

        CQuokkaQuokkaDlg dialog;
        dialog.show();
        EXPECT_EQ(Explore(dialog), kFirstRunSteps);
        ASSERT_TRUE(dialog.WorldMap());
        EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(422, 220));
        EXPECT_EQ(HomeLocation::Read().Encode(), kLondonBytes);
        const QByteArray stored = ReadFile(ProfilePath(config));
        EXPECT_TRUE(stored.startsWith("[quokka]\nData=@ByteArray(")) << stored.toStdString();

        // The stored click holds from now on: no first-run steps.
        EXPECT_EQ(Explore(dialog), "");
        EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(422, 220));
    }
}

TEST_F(HostileProfileTest, AWriteOverACorruptFileReportsItsSuccess)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString config = home.filePath("config");
    UseFolders(home, config);
    ASSERT_TRUE(WriteFile(ProfilePath(config), CorruptOrMistypedProfiles().front().text));
    EXPECT_TRUE(HomeLocation::Write({422, 220}));
    EXPECT_EQ(HomeLocation::Read().Encode(), kLondonBytes);
    EXPECT_TRUE(HomeLocation::Write({-5, 7}));
    EXPECT_EQ(HomeLocation::Read().x, -5);
}

TEST_F(HostileProfileTest, AProfileThatCannotBeWrittenLeavesTheNextExplorationAskingAgain)
{
    const struct {
        const char *why;
        bool configIsAFile; // else the profile file's own path is a folder
    } cases[] = {
        {"the profile root is a regular file", true},
        {"the profile file is a folder", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const QString config = home.filePath("config");
        UseFolders(home, config);
        if (c.configIsAFile)
            ASSERT_TRUE(WriteFile(config, "not a folder\n"));
        else
            ASSERT_TRUE(QDir().mkpath(ProfilePath(config)));
        EXPECT_FALSE(HomeLocation::Write({422, 220}));
        EXPECT_FALSE(HomeLocation::Read().IsSet());

        CQuokkaQuokkaDlg dialog;
        dialog.show();
        EXPECT_EQ(Explore(dialog), kFirstRunSteps);
        ASSERT_TRUE(dialog.WorldMap());
        EXPECT_EQ(dialog.WorldMap()->HomePoint(), QPoint(0, 0)); // nothing could be stored
        EXPECT_FALSE(HomeLocation::Read().IsSet());
        EXPECT_EQ(Explore(dialog), kFirstRunSteps);
        EXPECT_FALSE(HomeLocation::Read().IsSet());
    }
}

// The program's own --home, in a process of its own with the profile under XDG_CONFIG_HOME.
TEST(HostileProfileProgram, StoreHomeSucceedsOverACorruptFileAndFailsPlainlyWhereNothingCanBeWritten)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const auto storeHome = [&home](const QString &config, std::string &out) {
        return testsupport::Run("HOME='" + home.path().toStdString() + "' XDG_CONFIG_HOME='" + config.toStdString()
                                    + "' '" QUOKKA_PROGRAM "' --home 422,220 2>&1",
                                &out);
    };
    const QString corrupt = home.filePath("corrupt");
    const QString profile = corrupt + u'/' + kProfileFolder + "/quokka-quokka.conf";
    ASSERT_TRUE(WriteFile(profile, CorruptOrMistypedProfiles().front().text));
    std::string out;
    EXPECT_EQ(storeHome(corrupt, out), 0) << out;
    EXPECT_EQ(out, "");
    QSettings stored(profile, QSettings::IniFormat);
    EXPECT_EQ(stored.value("quokka/Data").toByteArray(), kLondonBytes);

    const QString file = home.filePath("file");
    ASSERT_TRUE(WriteFile(file, "not a folder\n"));
    out.clear();
    EXPECT_EQ(storeHome(file, out), 1) << out;
    EXPECT_EQ(out, "quokka-quokka: the home point could not be stored\n");
}
