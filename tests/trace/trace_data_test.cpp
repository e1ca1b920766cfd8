// The trace window: lines in order, the newest selected and in view, a fixed-pitch font,
// a place on the screen; each hop's tooltip, copies, the saved report and spoken rows.
#include "list_menu.h"
#include "trace/report_file.h"
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
    window.AddLine(QStringLiteral("Route Complete, Total Round Trip Time 70ms"));
    check("a short line last");
    EXPECT_TRUE(list->horizontalScrollBar()->isVisible()) << "the wide lines can still be scrolled to";
    const int wide = list->fontMetrics().horizontalAdvance(list->item(6)->text());
    EXPECT_GE(list->horizontalScrollBar()->maximum() + list->viewport()->width(), wide);
}

namespace {

using testsupport::ChooseFromListMenu;

// Three hop lines and the completion line; hop 2 was named by a stranger.
struct TracedWindow {
    TracedWindow()
    {
        window.show();
        list = window.findChild<QListWidget *>(QStringLiteral("traceList"));
        report.domain = QStringLiteral("accept.example");
        report.target = QStringLiteral("203.0.113.2");
        for (int ttl : {1, 2, 4}) {
            HopDetail hop;
            hop.row = int(report.hops.size());
            hop.ttl = ttl;
            hop.address = QStringLiteral("198.51.100.%1").arg(ttl);
            hop.rttMs = ttl * 10;
            hop.place = QStringLiteral("London, England, United Kingdom");
            hop.line = QStringLiteral("Hop %1     %2ms      %3  %4").arg(ttl).arg(hop.rttMs).arg(hop.address, hop.place);
            report.hops << hop;
        }
        report.hops[1].hostName = QStringLiteral("<b>x</b>\u0007.example");
        report.hops[1].asn = 64500;
        report.hops[1].asName = QStringLiteral("=HYPERLINK(\"x\")");
        for (const HopDetail &hop : report.hops)
            window.AddLine(hop.line);
        window.AddLine(QStringLiteral("Route Complete, Total Round Trip Time 70ms"));
        report.completed = true;
        report.totalMs = 70;
        window.UpdateReport(report);
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
    RunReport report;
};

} // namespace

TEST(TraceData, EachHopsLineTellsItsDetailsOnHoverAndLaterNamesReachIt)
{
    TracedWindow t;
    ASSERT_TRUE(t.list);
    EXPECT_EQ(t.ShownToolTip(0), runreport::ToolTipHtml(t.report.hops[0]));
    const QString hostile = t.ShownToolTip(1);
    EXPECT_TRUE(hostile.contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt;\u2407.example"))) << qPrintable(hostile);
    EXPECT_FALSE(hostile.contains(QStringLiteral("<b>"))) << "a stranger's name is never markup";
    EXPECT_EQ(t.list->item(3)->toolTip(), QString()) << "the completion line is no hop";

    // A name that arrives later, and a line listed after its report.
    t.report.hops[0].hostName = QStringLiteral("r1.example");
    HopDetail later = t.report.hops[0];
    later.row = 4;
    later.ttl = 5;
    t.report.hops << later;
    t.window.UpdateReport(t.report);
    EXPECT_TRUE(t.ShownToolTip(0).contains(QStringLiteral("Host name: r1.example")));
    t.window.AddLine(later.line);
    EXPECT_TRUE(t.ShownToolTip(4).contains(QStringLiteral("Hop 5")));
}

TEST(TraceData, CopiesTheLineUnderThePointerEveryLineOrTheSelectedOneAndKeysStillWork)
{
    TracedWindow t;
    t.window.AddLine(QStringLiteral("odd\tline\u202e"));
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QStringList all{"Copy Line", "Copy All", "Save Report..."};
    EXPECT_EQ(ChooseFromListMenu(t.list, 1, QStringLiteral("Copy Line")), all);
    EXPECT_EQ(clipboard->text(), t.report.hops[1].line);
    EXPECT_EQ(ChooseFromListMenu(t.list, -1, QStringLiteral("Copy All")), all.mid(1)) << "no line under the pointer";
    QStringList lines;
    for (const HopDetail &hop : t.report.hops)
        lines << hop.line;
    lines << QStringLiteral("Route Complete, Total Round Trip Time 70ms") << QStringLiteral("odd\u2409line<U+202E>");
    EXPECT_EQ(clipboard->text(), lines.join(u'\n'));

    t.list->setCurrentRow(2);
    QTest::keyClick(t.list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), t.report.hops[2].line);
    EXPECT_TRUE(t.window.isVisible());
    QTest::keyClick(t.list, Qt::Key_Return);
    EXPECT_FALSE(t.window.isVisible()) << "Enter still ends the window";
}

// Each row: what is typed into the dialog, the filter chosen, the file written and its kind.
TEST(TraceData, SavesTheReportWhereAskedAsJsonOrCsvAndSaysWhenItCannot)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8()); // the dialog's own settings
    TracedWindow t;
    const struct {
        const char *typed;
        const QString &filter;
        const char *written;
    } rows[] = {
        {"a.json", runreport::kCsvFilter, "a.json"},
        {"b.CSV", runreport::kJsonFilter, "b.CSV"},
        {"c", runreport::kCsvFilter, "c.csv"},
        {"d.txt", runreport::kJsonFilter, "d.txt.json"},
    };
    for (const auto &row : rows) {
        ChooseFromListMenu(t.list, 0, QStringLiteral("Save Report..."));
        auto *dialog = t.window.findChild<QFileDialog *>(QStringLiteral("saveReport"));
        ASSERT_TRUE(dialog && dialog->isVisible()) << row.typed;
        EXPECT_EQ(dialog->nameFilters(), QStringList({runreport::kJsonFilter, runreport::kCsvFilter}));
        // The filter picked with a key, as a person does: its suffix is what a bare name gets.
        auto *filters = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        ASSERT_TRUE(filters);
        QTest::keyClick(filters, row.filter == runreport::kCsvFilter ? Qt::Key_End : Qt::Key_Home);
        EXPECT_EQ(dialog->selectedNameFilter(), row.filter);
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        name->setText(dir.filePath(QString::fromLatin1(row.typed)));
        QTest::keyClick(name, Qt::Key_Return);
        EXPECT_FALSE(dialog->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QFile file(dir.filePath(QString::fromLatin1(row.written)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << row.written;
        const QByteArray data = file.readAll();
        if (QByteArray(row.written).toLower().endsWith(".csv")) {
            EXPECT_EQ(data, runreport::ToCsv(t.report)) << row.written;
            EXPECT_TRUE(data.contains("\"'=HYPERLINK(\"\"x\"\")\"")) << data.constData();
        } else {
            const QJsonObject root = QJsonDocument::fromJson(data).object();
            EXPECT_EQ(root.value("hops").toArray().at(1).toObject().value("hostname").toString(),
                      t.report.hops[1].hostName) << row.written;
            EXPECT_EQ(root.value("domain").toString(), QStringLiteral("accept.example"));
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4) << "no temporary file is left behind";

    ChooseFromListMenu(t.list, 0, QStringLiteral("Save Report..."));
    auto *dialog = t.window.findChild<QFileDialog *>(QStringLiteral("saveReport"));
    ASSERT_TRUE(dialog);
    const QString missing = dir.filePath(QStringLiteral("no such folder/e.json"));
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    name->setText(missing);
    QTest::keyClick(name, Qt::Key_Return);
    auto *box = t.window.findChild<QMessageBox *>(QStringLiteral("saveReportFailed"));
    ASSERT_TRUE(box && box->isVisible()) << "a failed save is said";
    EXPECT_TRUE(box->text().contains(missing)) << qPrintable(box->text());
}

TEST(TraceData, EachLineShowsAndIsHeardWithItsControlCharactersAndHopsDetails)
{
    TracedWindow t;
    t.window.AddLine(QStringLiteral("bell\u0007"));
    EXPECT_EQ(testsupport::SpokenRow(t.list, 1), t.report.hops[1].line);
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
    t.report.hops[1].asName = QStringLiteral("<i>") + QString(60, u'w') + QStringLiteral(" ") + QString(400, u'x');
    t.window.UpdateReport(t.report);
    const QString tip = t.ShownToolTip(1);
    EXPECT_TRUE(tip.contains(QStringLiteral("&lt;i&gt;"))) << qPrintable(tip);
    EXPECT_FALSE(tip.contains(QStringLiteral("<i>")));
    EXPECT_TRUE(tip.contains(QString(60, u'w') + QStringLiteral(" <br/>"))) << "broken at the blank";
    const QWidget *label = testsupport::ShownToolTipLabel();
    ASSERT_TRUE(label);
    EXPECT_LE(label->width(), t.window.screen()->availableGeometry().width());
}
