// The home point: its stored bytes, and the setup window that stores the first left click.
#include "geo/home_location.h"
#include "map_pixels.h"
#include "open_dialog.h"
#include "base/wait.h"
#include "geo/setup.h"
#include "base/toast.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using quokka::Toast;
using namespace quokka::geo;

namespace {

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QStringLiteral("Local AppWizard-Generated Applications"), QCoreApplication::applicationName());
}

QByteArray StoredBytes()
{
    return Profile().value(QStringLiteral("quokka/Data")).toByteArray();
}

class HomeSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_profileDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_profileDir.path());
        CSetup::SetNextAnswer(std::nullopt);
    }

    // Opens SETUP with a short notice before its map and waits for its end.
    static int Open(CSetup &setup)
    {
        setup.SetNoticeDuration(100);
        return testsupport::OpenAndWait(setup);
    }

    // Runs FN on the setup window as soon as it is the modal window on screen.
    static void WhenSetupShows(std::function<void(CSetup *)> fn)
    {
        auto *poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, fn] {
            if (auto *setup = qobject_cast<CSetup *>(QApplication::activeModalWidget()); setup && setup->isVisible()) {
                poll->stop();
                poll->deleteLater();
                fn(setup);
            }
        });
        poll->start(10);
    }

    QTemporaryDir m_profileDir;
};

} // namespace

TEST_F(HomeSetupTest, StoresEightLittleEndianBytesAndReadsThemBack)
{
    EXPECT_FALSE(HomeLocation::Read().IsSet()); // fresh profile
    ASSERT_TRUE(HomeLocation::Write({422, 220}));
    EXPECT_EQ(StoredBytes(), QByteArray::fromHex("a6010000dc000000"));
    EXPECT_EQ(HomeLocation::Read().x, 422);
    EXPECT_EQ(HomeLocation::Read().y, 220);
    ASSERT_TRUE(HomeLocation::Write({-3, 70000}));
    EXPECT_EQ(HomeLocation::Read().x, -3);
    EXPECT_EQ(HomeLocation::Read().y, 70000);
    EXPECT_TRUE(HomeLocation({0, 5}).IsSet());
    EXPECT_FALSE(HomeLocation({0, 0}).IsSet());
}

TEST_F(HomeSetupTest, AStoredValueThatIsNotEightBytesReadsAsNoHome)
{
    for (const QByteArray &bytes : {QByteArray::fromHex("a6010000dc0000"), QByteArray::fromHex("a6010000dc00000000"),
                                    QByteArray()}) {
        Profile().setValue(QStringLiteral("quokka/Data"), bytes);
        EXPECT_FALSE(HomeLocation::Read().IsSet()) << bytes.toHex().constData();
    }
    Profile().setValue(QStringLiteral("quokka/Data"), QStringLiteral("not bytes"));
    EXPECT_FALSE(HomeLocation::Read().IsSet());
}

TEST_F(HomeSetupTest, TheFirstLeftClickIsStoredAndEndsTheSetup)
{
    WhenSetupShows([](CSetup *setup) {
        QTest::mouseClick(setup, Qt::RightButton, {}, QPoint(100, 100));
        QTest::mouseMove(setup, QPoint(200, 200));
        EXPECT_TRUE(setup->isVisible());
        EXPECT_TRUE(StoredBytes().isEmpty());
        QTest::mouseClick(setup, Qt::LeftButton, {}, QPoint(422, 220));
        QTest::mouseClick(setup, Qt::LeftButton, {}, QPoint(10, 10)); // too late to count
    });
    CSetup setup;
    EXPECT_EQ(Open(setup), QDialog::Accepted);
    EXPECT_EQ(StoredBytes(), QByteArray::fromHex("a6010000dc000000"));

    // The next map window starts from there.
    CWorldMap map;
    map.SetHome(HomeLocation::Read());
    map.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&map));
    EXPECT_EQ(map.LastPoint(), QPoint(422, 220));
    EXPECT_TRUE(mappixels::MarkerAt(mappixels::Live(&map), {422, 220}, CWorldMap::kRed));
}

TEST_F(HomeSetupTest, EscAndTheCloseBoxStoreNothing)
{
    HomeLocation::Write({5, 6});
    WhenSetupShows([](CSetup *setup) { QTest::keyClick(setup, Qt::Key_Escape); });
    CSetup esc;
    EXPECT_EQ(Open(esc), QDialog::Rejected);
    WhenSetupShows([](CSetup *setup) { setup->close(); });
    CSetup closed;
    EXPECT_EQ(Open(closed), QDialog::Rejected);
    EXPECT_EQ(StoredBytes(), QByteArray::fromHex("0500000006000000"));
}

TEST_F(HomeSetupTest, ShowsTheMapPicture)
{
    WhenSetupShows([](CSetup *setup) {
        const QImage shown = mappixels::Live(setup);
        const QImage picture = CWorldMap::Picture().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(shown.copy(0, 0, 899, 535), picture.copy(0, 0, 899, 535));
        QTest::keyClick(setup, Qt::Key_Escape);
    });
    CSetup setup;
    Open(setup);
}

TEST_F(HomeSetupTest, AScriptedAnswerDrivesTheWindowWithoutAPerson)
{
    CSetup::SetNextAnswer(CSetup::Answer{false, {30, 40}});
    CSetup clicked;
    EXPECT_EQ(Open(clicked), QDialog::Accepted);
    EXPECT_EQ(HomeLocation::Read().x, 30);
    EXPECT_EQ(HomeLocation::Read().y, 40);

    CSetup::SetStandingAnswer(CSetup::Answer{true, {}});
    CSetup escaped;
    EXPECT_EQ(Open(escaped), QDialog::Rejected);
    CSetup::SetStandingAnswer(CSetup::Answer{false, {7, 8}});
    CSetup standing;
    EXPECT_EQ(Open(standing), QDialog::Accepted);
    CSetup::SetStandingAnswer(std::nullopt);
    EXPECT_EQ(HomeLocation::Read().x, 7);
    EXPECT_EQ(HomeLocation::Read().y, 8);
}

TEST_F(HomeSetupTest, TheNoticeStaysItsRealThreeSecondsBeforeTheMapShows)
{
    bool noticeUpAlone = false;
    QTimer::singleShot(1500, [&] {
        auto *notice = qobject_cast<Toast *>(QApplication::activeModalWidget());
        noticeUpAlone = notice && notice->m_strText == "Left click on your exact location"
            && notice->m_nDuration == 3000;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<CSetup *>(w) && w->isVisible())
                noticeUpAlone = false;
    });
    QElapsedTimer clock;
    qint64 shownAfter = -1;
    WhenSetupShows([&](CSetup *setup) {
        shownAfter = clock.elapsed();
        QTest::mouseClick(setup, Qt::LeftButton, {}, QPoint(422, 220));
    });
    CSetup setup;
    clock.start();
    testsupport::OpenAndWait(setup);
    EXPECT_TRUE(noticeUpAlone);
    EXPECT_GE(shownAfter, 3000);
}
