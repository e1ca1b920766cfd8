// The trace window: lines in order, the newest selected and in view, a fixed-pitch font,
// and a place on the screen.
#include "trace/trace_data.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QScreen>
#include <QSignalSpy>
#include <gtest/gtest.h>

TEST(TraceData, AppendsInOrderAndKeepsTheNewestLineSelectedAndVisible)
{
    CTraceData window;
    window.show();
    QSignalSpy added(&window, &CTraceData::lineAdded);
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
}
