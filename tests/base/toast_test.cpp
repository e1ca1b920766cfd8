// The self-closing notice: sized to its text, painted in its margins, closed only by its timer.
#include "base/toast.h"

#include "base/window_support.h"
#include "open_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using quokka::Toast;

namespace {

class ToastTest : public ::testing::Test {
protected:
    // Notices of the tests stay up this long, unless a test wants the real time.
    static constexpr int kShortMs = 300;

    // Runs FN on the toast while it is up.
    static void WhileUp(std::function<void(Toast *)> fn, int afterMs = 50)
    {
        QTimer::singleShot(afterMs, [fn] {
            auto *toast = qobject_cast<Toast *>(QApplication::activeModalWidget());
            ASSERT_TRUE(toast);
            fn(toast);
        });
    }
};

QSize ExpectedTextSize(const QString &text, int tenths)
{
    const QFontMetrics metrics(quokka::PointFont(QStringLiteral("Arial"), tenths));
    return {metrics.horizontalAdvance(text), metrics.height()};
}

bool IsDark(QRgb pixel)
{
    return qGray(pixel) < 110;
}

} // namespace

TEST_F(ToastTest, IsSizedToItsTextAndPaintsItInsideTheMargins)
{
    Toast toast;
    toast.m_nDuration = kShortMs;
    toast.m_strText = QStringLiteral("Welcome to quokka quokka setup!");
    toast.m_nPointSize = 100;
    const QSize text = ExpectedTextSize(toast.m_strText, 100);
    ASSERT_GT(text.width(), 100);
    QImage shown;
    WhileUp([&](Toast *up) {
        EXPECT_EQ(up->size(), text + QSize(40, 30));
        shown = up->grab().toImage();
    });
    testsupport::OpenAndWait(toast);
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixel(2, 2), Toast::kBackground);
    int darkInside = 0, darkOutside = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            if (!IsDark(shown.pixel(x, y)))
                continue;
            const bool inside = x >= 15 && y >= 15 && x < 15 + text.width() && y < 15 + text.height();
            ++(inside ? darkInside : darkOutside);
        }
    EXPECT_GT(darkInside, 100);
    EXPECT_EQ(darkOutside, 0);
}

TEST_F(ToastTest, MeasuresALongerTextWiderALineBreakAsOneLineAndNoTextAsForty)
{
    Toast toast;
    toast.m_nDuration = kShortMs;
    toast.m_nPointSize = 100;
    const QSize one = toast.GetTextSize(QStringLiteral("Left click"));
    const QSize longer = toast.GetTextSize(QStringLiteral("Left click on your exact location"));
    EXPECT_GT(longer.width(), one.width());
    EXPECT_EQ(longer.height(), one.height());
    toast.m_nPointSize = 200;
    EXPECT_GT(toast.GetTextSize(QStringLiteral("Left click")).height(), one.height());

    Toast broken;
    broken.m_nDuration = kShortMs;
    broken.m_strText = QStringLiteral("two\nlines");
    WhileUp([&](Toast *up) { EXPECT_EQ(up->height(), one.height() + 30); });
    testsupport::OpenAndWait(broken);

    Toast empty;
    empty.m_nDuration = kShortMs;
    WhileUp([](Toast *up) { EXPECT_EQ(up->width(), 40); });
    testsupport::OpenAndWait(empty);
}

TEST_F(ToastTest, NeitherKeysNorClicksNorACloseRequestEndIt)
{
    Toast toast;
    toast.m_nDuration = kShortMs;
    toast.m_strText = QStringLiteral("Left click on your exact location");
    bool stillUp = false;
    WhileUp([&](Toast *up) {
        QTest::keyClick(up, Qt::Key_Return);
        QTest::keyClick(up, Qt::Key_Enter);
        QTest::keyClick(up, Qt::Key_Escape);
        QTest::mouseClick(up, Qt::LeftButton, {}, QPoint(5, 5));
        up->close();
        stillUp = up->isVisible();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(testsupport::OpenAndWait(toast), 0);
    EXPECT_TRUE(stillUp);
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_FALSE(toast.isVisible());
}

TEST_F(ToastTest, ClosesItselfAfterTheRealFiveSeconds)
{
    Toast toast;
    toast.m_strText = QStringLiteral("Welcome to quokka quokka setup!");
    toast.m_nDuration = 5000;
    bool upAfterFourSeconds = false;
    QTimer::singleShot(4000, [&] { upAfterFourSeconds = toast.isVisible(); });
    QElapsedTimer clock;
    clock.start();
    testsupport::OpenAndWait(toast);
    EXPECT_TRUE(upAfterFourSeconds);
    EXPECT_GE(clock.elapsed(), 5000);
    EXPECT_FALSE(toast.isVisible());
}

TEST_F(ToastTest, IsCentredOverItsOwnerAndFollowsIt)
{
    QWidget owner;
    owner.setGeometry(100, 80, 400, 300);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    Toast toast(&owner);
    toast.m_nDuration = kShortMs;
    toast.m_strText = QStringLiteral("Welcome");
    QPoint centres[2], ownerCentres[2];
    WhileUp([&](Toast *up) {
        centres[0] = up->frameGeometry().center();
        ownerCentres[0] = owner.frameGeometry().center();
        owner.move(260, 190); // as a window manager may while the notice shows
        QTest::qWait(50);
        centres[1] = up->frameGeometry().center();
        ownerCentres[1] = owner.frameGeometry().center();
    });
    testsupport::OpenAndWait(toast);
    EXPECT_NE(ownerCentres[0], ownerCentres[1]);
    for (int i = 0; i < 2; ++i) {
        EXPECT_LE(std::abs(centres[i].x() - ownerCentres[i].x()), 1) << i;
        EXPECT_LE(std::abs(centres[i].y() - ownerCentres[i].y()), 1) << i;
    }
}
