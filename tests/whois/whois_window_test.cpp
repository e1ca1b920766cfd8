// The WHOIS result window on the offscreen platform: rows, colours, selection and placement,
// copies and spoken rows.
#include "list_menu.h"
#include "whois/whois_lookup.h"
#include "whois/whois_text.h"
#include "base/visible_text.h"
#include "base/window_support.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QTest>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <gtest/gtest.h>

using quokka::whois::CWhoisLookup;

namespace {

struct RowInk {
    int red = 0;   // pixels of strong red ink
    int black = 0; // pixels of dark ink
    int highlight = 0; // pixels that are neither white nor ink: a selection fill would show here
};

// The ink in ROW, or in its first COLUMNS columns only.
RowInk InkOfRow(QListWidget *list, int row, int columns = 0)
{
    const QImage image = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRect rect = list->visualItemRect(list->item(row)).intersected(image.rect());
    if (columns > 0)
        rect.setWidth(columns);
    RowInk ink;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() >= 200 && c.green() <= 90 && c.blue() <= 90)
                ++ink.red;
            else if (c.red() <= 70 && c.green() <= 70 && c.blue() <= 70)
                ++ink.black;
            else if (c.red() < 200 && std::abs(c.red() - c.green()) > 30)
                ++ink.highlight;
        }
    }
    return ink;
}

class WhoisWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        list = window.findChild<QListWidget *>(QStringLiteral("whoisList"));
        ASSERT_NE(list, nullptr);
    }
    // Lists ANSWER as a run lists the answer it got.
    void Show(const QString &answer, const QString &note = {}) { window.ShowAnswer(quokka::whois::AnswerLines(answer, note)); }

    CWhoisLookup window;
    QListWidget *list = nullptr;
};

TEST_F(WhoisWindow, ListsCleanedLinesInOrderAndAnnouncesEach)
{
    QSignalSpy added(&window, &CWhoisLookup::LineAdded);
    Show("\n#\n# terms\n#\n\nNetRange: x\n");
    const QStringList expected{"", " terms", "#", "NetRange: x"};
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(window.Lines(), expected);
    ASSERT_EQ(added.count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(added.at(i).at(0).toString(), expected.at(i));
    EXPECT_EQ(list->currentRow(), 3);

    // A later answer replaces the list rather than mixing with it.
    Show("CWhois::GetData Error Cannot Find whois.iana.org IP Address ");
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(window.Lines(), QStringList{"CWhois::GetData Error Cannot Find whois.iana.org IP Address "});
    Show("");
    EXPECT_EQ(list->count(), 0);
    // Why an answer was cut short comes last.
    Show("NetRange: x\n", "(cut short)");
    EXPECT_EQ(window.Lines(), (QStringList{"NetRange: x", "(cut short)"}));
}

TEST_F(WhoisWindow, ContactRowsAreRedOthersBlackAndSelectionIsNotDrawn)
{
    Show("NetRange: 192.0.2.0\nOrgAbuseEmail: abuse@example.net\nPhone: +1-555-0100\nfax: 1\n");
    ASSERT_EQ(list->count(), 4);
    for (int row : {1, 2}) {
        const RowInk ink = InkOfRow(list, row);
        EXPECT_GT(ink.red, 10) << "row " << row;
        EXPECT_EQ(ink.black, 0) << "row " << row;
    }
    for (int row : {0, 3}) { // row 3 is the selected one
        const RowInk ink = InkOfRow(list, row);
        EXPECT_GT(ink.black, 10) << "row " << row;
        EXPECT_EQ(ink.red, 0) << "row " << row;
        EXPECT_EQ(ink.highlight, 0) << "row " << row;
    }
    EXPECT_EQ(list->currentRow(), 3);
}

TEST_F(WhoisWindow, RowsAreFourteenPixelsAndTheLastIsInView)
{
    QString answer;
    for (int i = 0; i < 200; ++i)
        answer += QStringLiteral("line %1\n").arg(i);
    Show(answer);
    ASSERT_EQ(list->count(), 200);
    EXPECT_EQ(list->visualItemRect(list->item(0)).height(), 14);
    EXPECT_EQ(list->currentRow(), 199);
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(199))));
    EXPECT_FALSE(list->viewport()->rect().intersects(list->visualItemRect(list->item(0))));
}

TEST_F(WhoisWindow, LayoutAndPlacement)
{
    EXPECT_EQ(window.objectName(), "whoisLookup");
    EXPECT_EQ(window.windowTitle(), "quokka quokka");
    EXPECT_EQ(window.size(), QSize(quokka::DluX(287), quokka::DluY(336)));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("allDone"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "All Done");
    EXPECT_EQ(button->geometry(), quokka::DluRect(230, 315, 50, 14));
    // The list sits 5 px in, keeps whole rows and ends above the button, as tall as fits.
    EXPECT_EQ(list->geometry().topLeft(), QPoint(5, 5));
    EXPECT_EQ(list->width(), window.width() - 10);
    const int border = 2 * list->frameWidth(), room = window.height() - 35 - border; // 5 above, 30 below
    EXPECT_EQ(list->height() - border, room / 14 * 14) << "as many whole rows as the rectangle holds";
    EXPECT_LT(list->geometry().bottom(), button->geometry().top());

    // The centre sits 540 px right of and 100 px above the screen's centre, halves truncated.
    EXPECT_EQ(CWhoisLookup::PlannedPosition({1920, 1080}, {431, 547}), QPoint(960 - 215 + 540, 540 - 273 - 100));
    // On a small screen the window is pulled back inside the available area.
    // The rule places the window's frame, from the frame's size.
    const QSize screen = quokka::FullScreenSize();
    const QSize frame = window.frameGeometry().size();
    const QPoint planned = CWhoisLookup::PlannedPosition(screen, frame);
    EXPECT_EQ(window.pos(), quokka::ClampToScreen(planned, frame));
    EXPECT_GE(window.x(), 0);
    EXPECT_GE(window.y(), 0);
    EXPECT_LE(window.x() + window.width(), screen.width());

    button->click();
    EXPECT_FALSE(window.isVisible());
}

// Lines wider than the list scroll sideways; the bar takes a row's room inside the rectangle.
TEST_F(WhoisWindow, WideLinesScrollSidewaysWithinTheListsRectangle)
{
    const int height = list->height();
    Show("short\n" + QString(300, u'w') + "\nshort again\n");
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible());
    EXPECT_GT(list->horizontalScrollBar()->maximum(), 300 * 5 - list->viewport()->width());
    EXPECT_LE(list->height(), height) << "the list stays inside its rectangle";
    EXPECT_EQ(list->viewport()->height() % 14, 0) << "whole rows";
    Show("short\n");
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->height(), height);
}

// What a row draws is what it copies and says: control and direction characters show as
// their stand-ins, and while the list has the focus the current row is framed.
TEST_F(WhoisWindow, RowsDrawTheirVisibleTextAndFrameTheCurrentRowWhileFocused)
{
    Show(QStringLiteral("descr: \u202eten.elpmaxe@esuba :liam-e\ndescr: <U+202E>ten.elpmaxe@esuba :liam-e\n"
                                     "bell\u0007\nbell\u2407\n"));
    list->clearFocus();
    const auto rowImage = [this](int row) {
        return list->viewport()->grab(list->visualItemRect(list->item(row))).toImage();
    };
    EXPECT_EQ(rowImage(0), rowImage(1));
    EXPECT_EQ(rowImage(2), rowImage(3));
    const auto leftEdgeInk = [&](int row) { return InkOfRow(list, row, 2).black; };
    EXPECT_EQ(leftEdgeInk(3), 0) << "no frame without the focus";
    window.activateWindow();
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }));
    list->setCurrentRow(2);
    EXPECT_GT(leftEdgeInk(2), 3) << "the current row is framed";
    EXPECT_EQ(leftEdgeInk(3), 0) << "only the current row";
    list->clearFocus();
    EXPECT_EQ(leftEdgeInk(2), 0);
}

// Rows store a placeholder and show their line: copies and screen readers get the line.
TEST_F(WhoisWindow, CopiesAndSpeaksTheLinesRowsShow)
{
    Show("NetRange: 192.0.2.0\nOrgAbuseEmail: abuse@example.net\nOrgName: \x1b[31mX\n");
    ASSERT_EQ(list->count(), 3);
    QClipboard *clipboard = QGuiApplication::clipboard();
    EXPECT_EQ(testsupport::ChooseFromListMenu(list, 1, "Copy Line"), QStringList({"Copy Line", "Copy All"}));
    EXPECT_EQ(clipboard->text(), "OrgAbuseEmail: abuse@example.net");
    const QString visible = quokka::VisibleText(window.Lines().at(2));
    EXPECT_EQ(testsupport::ChooseFromListMenu(list, -1, "Copy All"), QStringList{"Copy All"});
    EXPECT_EQ(clipboard->text(), "NetRange: 192.0.2.0\nOrgAbuseEmail: abuse@example.net\n" + visible);
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "NetRange: 192.0.2.0");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(testsupport::SpokenRow(list, row), quokka::VisibleText(window.Lines().at(row))) << row;
    EXPECT_EQ(list->item(0)->text(), "Push Data") << "rows still hold their placeholder";
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(window.isVisible()) << "Enter still presses All Done";
}

} // namespace
