// Figures: how long the main dialog takes to be shown, from process start and from the
// application object's creation, on the offscreen platform.
#include "app/main_dialog.h"

#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace quokka::app;

namespace {

// Milliseconds since this process started, from /proc/self/stat and the boot clock.
double MsSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const double startSeconds = std::stod(field) / double(::sysconf(_SC_CLK_TCK));
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9 - startSeconds) * 1000.0;
}

} // namespace

TEST(Bench, MainDialogShown)
{
    QElapsedTimer clock;
    clock.start();
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    std::printf("main dialog shown: %lld ms after construction began, %.0f ms after process start "
                "(clock ticks of 10 ms)\n", clock.elapsed(), MsSinceProcessStart());
}
