// Closing the main window while a run waits between hops ends the run at once and leaves the
// program (its own process: closing is process-wide and final).
#include "geo/home_location.h"
#include "app/main_dialog.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quokka::app;
using quokka::geo::HomeLocation;

TEST(MainDialogClose, EndsARunDuringItsWaitWithinHalfASecond)
{
    if (!testsupport::IsolateNetwork())
        GTEST_SKIP() << "needs root for a network namespace of its own";
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    ASSERT_TRUE(HomeLocation::Write({422, 220}));

    CQuokkaQuokkaDlg dialog;
    dialog.show();
    QElapsedTimer sinceClose;
    bool finishedSignal = false;
    QObject::connect(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished, [&] { finishedSignal = true; });
    // Loopback answers the first probe at once, so the run is in its two-second wait by then.
    QTimer::singleShot(600, [&] {
        sinceClose.start();
        dialog.close();
    });
    QElapsedTimer run;
    run.start();
    dialog.StartExploration(QStringLiteral("127.0.0.1"));
    // The program's loop, as main() runs it; closing the window ends it.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, qApp, &QCoreApplication::quit);
    watchdog.start(5000);
    QCoreApplication::exec();
    ASSERT_TRUE(sinceClose.isValid()) << "the run ended before the window was closed";
    EXPECT_FALSE(dialog.IsExploring()) << "closing ends the run";
    EXPECT_LT(sinceClose.elapsed(), 500);
    EXPECT_LT(run.elapsed(), 1500) << "the run did not sit out its wait";
    EXPECT_FALSE(finishedSignal) << "a run cut short by closing does not report itself finished";
    EXPECT_FALSE(dialog.isVisible());
}
