// The trace window: lines in order, the newest selected and in view, a fixed-pitch font,
// a place on the screen; each hop's tooltip, copies, the report's save and spoken rows.
#include "base/visible_text.h"
#include "list_menu.h"
#include "trace/trace_data.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QToolTip>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QScreen>
#include <QSignalSpy>
#include <gtest/gtest.h>

using quokka::trace::CTraceData;

TEST(TraceData, AppendsInOrderAndKeepsTheNewestLineSelectedAndVisible)
{
    CTraceData window;
    window.show();
    QSignalSpy added(&window, &CTraceData::LineAdded);
    auto *list = window.findChild<QListWidget *>(QStringLiteral("traceList"));
    ASSERT_TRUE(list);
    for (int hop : {1, 2, 4, 3})
        window.AddLine(QStringLiteral("Hop %1").arg(hop));
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("Hop 4")) << "not sorted";
    EXPECT_EQ(list->currentRow(), 3);
    EXPECT_EQ(added.count(), 4);

    for (int i = 0; i < 40; ++i)
        window.AddLine(QStringLiteral("line %1").arg(i));
    EXPECT_EQ(window.LineCount(), 44);
    EXPECT_EQ(list->currentRow(), 43);
    const QRect last = list->visualItemRect(list->item(43));
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << "the newest line is scrolled into view";
    EXPECT_FALSE(list->viewport()->rect().intersects(list->visualItemRect(list->item(0))));
}

TEST(TraceData, ListsInAFixedPitchFont)
{
    CTraceData window;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("traceList"));
    ASSERT_TRUE(list);
    const QFontInfo info(list->font());
    EXPECT_TRUE(info.fixedPitch()) << qPrintable(info.family());
    const QFontMetrics metrics(list->font());
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiiiiiiiii")), metrics.horizontalAdvance(QStringLiteral("WWWWWWWWWW")));
}

TEST(TraceData, SitsInsideTheScreenAndHidesOnAllDoneEnterAndEscape)
{
    CTraceData window;
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("quokka quokka"));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window.geometry())) << "placement is clamped to the screen";
    auto *allDone = window.findChild<QPushButton *>(QStringLiteral("allDoneButton"));
    ASSERT_TRUE(allDone);
    allDone->click();
    EXPECT_FALSE(window.isVisible());
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        window.show();
        QTest::keyClick(window.findChild<QListWidget *>(QStringLiteral("traceList")), key);
        EXPECT_FALSE(window.isVisible()) << "key " << key;
    }
}

TEST(TraceData, TheListKeepsWholeRowsAboveItsButtonAndScrollsOnlyWhenItMust)
{
    CTraceData window;
    window.show();
    auto *list = window.findChild<QListWidget *>(QStringLiteral("traceList"));
    auto *allDone = window.findChild<QPushButton *>(QStringLiteral("allDoneButton"));
    ASSERT_TRUE(list && allDone);
    const auto check = [&](const char *when) {
        const int rowHeight = list->visualItemRect(list->item(0)).height();
        EXPECT_GT(rowHeight, 0);
        EXPECT_EQ(list->viewport()->height() % rowHeight, 0) << when;
        EXPECT_LT(list->geometry().bottom(), allDone->geometry().top()) << when;
    };
    for (int hop = 1; hop <= 5; ++hop)
        window.AddLine(QStringLiteral("Hop %1     3ms       192.0.2.1      Home").arg(hop));
    check("five short lines");
    EXPECT_FALSE(list->verticalScrollBar()->isVisible()) << "five lines fit";
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    for (int hop = 6; hop <= 12; ++hop)
        window.AddLine(QStringLiteral("Hop %1").arg(hop) + QString(120, u'x'));
    check("more lines than fit, wider than the list");
    EXPECT_TRUE(list->verticalScrollBar()->isVisible());
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible()) << "the whole line can be scrolled to";
    window.AddLine(QStringLiteral("Route Complete, Total Round Trip Time 70ms"));
    check("a short line last");
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible()) << "the wide lines can still be scrolled to";
    const int wide = list->fontMetrics().horizontalAdvance(list->item(6)->text());
    EXPECT_GE(list->horizontalScrollBar()->maximum() + list->viewport()->width(), wide);
}

namespace {

using testsupport::ChooseFromListMenu;

// Three hop lines with their details and the completion line; hop 2 was named by a stranger.
struct TracedWindow {
    TracedWindow()
    {
        window.show();
        list = window.findChild<QListWidget *>(QStringLiteral("traceList"));
        for (int ttl : {1, 2, 4}) {
            const QString address = QStringLiteral("198.51.100.%1").arg(ttl);
            lines << QStringLiteral("Hop %1     %2ms      %3  London, England, United Kingdom").arg(ttl).arg(ttl * 10).arg(address);
            details << QStringList{QStringLiteral("Hop %1").arg(ttl), QStringLiteral("Address: ") + address,
                                   QStringLiteral("Place: London, England, United Kingdom"),
                                   QStringLiteral("Round trip: %1 ms").arg(ttl * 10)};
        }
        details[1].insert(2, QStringLiteral("Host name: <b>x</b>\u2407.example"));
        details[1].insert(3, QStringLiteral("Network: AS64500 =HYPERLINK(\"x\")"));
        for (int row = 0; row < 3; ++row) {
            window.AddLine(lines[row]);
            window.SetRowDetails(row, details[row]);
        }
        window.AddLine(QStringLiteral("Route Complete, Total Round Trip Time 70ms"));
    }
    QString ShownToolTip(int row)
    {
        const QPoint pos = list->visualItemRect(list->item(row)).center();
        QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }
    CTraceData window;
    QListWidget *list = nullptr;
    QStringList lines;
    QList<QStringList> details;
};

} // namespace

TEST(TraceData, EachHopsLineTellsItsDetailsOnHoverAndLaterNamesReachIt)
{
    TracedWindow t;
    ASSERT_TRUE(t.list);
    EXPECT_EQ(t.ShownToolTip(0), quokka::PlainToolTipHtml(t.details[0]));
    const QString hostile = t.ShownToolTip(1);
    EXPECT_TRUE(hostile.contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt;\u2407.example"))) << qPrintable(hostile);
    EXPECT_FALSE(hostile.contains(QStringLiteral("<b>"))) << "a stranger's name is never markup";
    EXPECT_EQ(t.list->item(3)->toolTip(), QString()) << "the completion line is no hop";

    // A name that arrives later, and a line listed after its details.
    t.details[0].insert(2, QStringLiteral("Host name: r1.example"));
    t.window.SetRowDetails(0, t.details[0]);
    EXPECT_TRUE(t.ShownToolTip(0).contains(QStringLiteral("Host name: r1.example")));
    t.window.SetRowDetails(4, {QStringLiteral("Hop 5")});
    t.window.AddLine(t.lines[0]);
    EXPECT_TRUE(t.ShownToolTip(4).contains(QStringLiteral("Hop 5")));
}

TEST(TraceData, CopiesTheLineUnderThePointerEveryLineOrTheSelectedOneAndKeysStillWork)
{
    TracedWindow t;
    t.window.AddLine(QStringLiteral("odd\tline\u202e"));
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QStringList all{"Copy Line", "Copy All", "Save Report..."};
    EXPECT_EQ(ChooseFromListMenu(t.list, 1, QStringLiteral("Copy Line")), all);
    EXPECT_EQ(clipboard->text(), t.lines[1]);
    EXPECT_EQ(ChooseFromListMenu(t.list, -1, QStringLiteral("Copy All")), all.mid(1)) << "no line under the pointer";
    QStringList lines = t.lines;
    lines << QStringLiteral("Route Complete, Total Round Trip Time 70ms") << QStringLiteral("odd\u2409line<U+202E>");
    EXPECT_EQ(clipboard->text(), lines.join(u'\n'));

    t.list->setCurrentRow(2);
    QTest::keyClick(t.list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), t.lines[2]);
    EXPECT_TRUE(t.window.isVisible());
    QTest::keyClick(t.list, Qt::Key_Return);
    EXPECT_FALSE(t.window.isVisible()) << "Enter still ends the window";
}

// "Save Report..." asks the run's own saving over this window.
TEST(TraceData, SaveReportAsksOverThisWindow)
{
    TracedWindow t;
    QList<QWidget *> asked;
    t.window.SetSaveReport([&](QWidget *window) { asked << window; });
    ChooseFromListMenu(t.list, -1, QStringLiteral("Save Report..."));
    EXPECT_EQ(asked, QList<QWidget *>{&t.window});
}

TEST(TraceData, EachLineShowsAndIsHeardWithItsControlCharactersAndHopsDetails)
{
    TracedWindow t;
    t.window.AddLine(QStringLiteral("bell\u0007"));
    EXPECT_EQ(testsupport::SpokenRow(t.list, 1), t.lines[1]);
    EXPECT_EQ(testsupport::SpokenRow(t.list, 4), QStringLiteral("bell\u2407"));
    EXPECT_EQ(t.list->item(4)->text(), QStringLiteral("bell\u2407")) << "what the screen shows";
    EXPECT_EQ(testsupport::SpokenRow(t.list, 1, QAccessible::Description),
              QStringLiteral("Hop 2; Address: 198.51.100.2; Host name: <b>x</b>\u2407.example; "
                             "Network: AS64500 =HYPERLINK(\"x\"); Place: London, England, United Kingdom; "
                             "Round trip: 20 ms"));
    EXPECT_EQ(testsupport::SpokenRow(t.list, 3, QAccessible::Description), QString()) << "no hop";
}

// A tooltip wider than the screen is broken into lines that fit, its text still escaped.
TEST(TraceData, ALongTooltipFitsTheScreen)
{
    TracedWindow t;
    t.details[1][3] = QStringLiteral("Network: <i>") + QString(60, u'w') + QStringLiteral(" ") + QString(400, u'x');
    t.window.SetRowDetails(1, t.details[1]);
    const QString tip = t.ShownToolTip(1);
    EXPECT_TRUE(tip.contains(QStringLiteral("&lt;i&gt;"))) << qPrintable(tip);
    EXPECT_FALSE(tip.contains(QStringLiteral("<i>")));
    EXPECT_TRUE(tip.contains(QString(60, u'w') + QStringLiteral(" <br/>"))) << "broken at the blank";
    const QWidget *label = testsupport::ShownToolTipLabel();
    ASSERT_TRUE(label);
    EXPECT_LE(label->width(), t.window.screen()->availableGeometry().width());
}
