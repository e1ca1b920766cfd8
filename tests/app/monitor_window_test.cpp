// The Route Monitor window over a source of rounds of the test's own, on the offscreen
// platform: its rows and their cells, a stranger's host name shown as text, the timeline of
// the destination and of a selected lossy hop (pixels), the route changes, copying, the
// controls, saving the report and closing.
#include "app/main_dialog.h"
#include "app/monitor_window.h"
#include "app/report_file.h"
#include "list_menu.h"
#include "scripted_round_source.h"
#include "geo/home_location.h"
#include "geo/world_map.h"
#include "trace/trace_data.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quokka::app;
using namespace quokka::app::monitor;
using namespace testmonitor;

namespace {

// Pixels of COLOUR in WIDGET as it paints now.
int CountPixels(QWidget *widget, QRgb colour)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) | 0xFF000000) == colour;
    return count;
}

// TTL 2 moves to another router from round 3 on; TTL 3 answers every other round; TTL 5 has
// a host name written to mislead.
QString Route(int round, int ttl)
{
    if (ttl == 2)
        return QString::fromLatin1(round < 3 ? "198.51.100.10" : "198.51.100.30");
    if (ttl == 3 && round % 2 == 0)
        return {};
    return SixHops(round, ttl);
}

TEST(MonitorWindow, ShowsEveryRowItsTimelineAndRouteChanges)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    auto seen = std::make_shared<Seen>();
    ExplorationServices services;
    services.reverseName = [](const QString &address, int) -> std::optional<QString> {
        if (address == QLatin1String("192.0.2.5"))
            return QStringLiteral("<b>x</b>\a.example");
        return std::nullopt;
    };
    auto session = std::make_unique<Session>(QString::fromLatin1(kDestination), services, [seen](const QString &) {
        return std::make_unique<ScriptedSource>(Route, seen);
    });
    session->SetInterval(10);
    QPointer<MonitorWindow> window = new MonitorWindow(std::move(session));
    window->show();
    Session &monitor = window->Monitor();
    auto *table = window->findChild<QTableWidget *>(QStringLiteral("monitorTable"));
    auto *timeline = window->findChild<Timeline *>(QStringLiteral("monitorTimeline"));
    auto *events = window->findChild<QListWidget *>(QStringLiteral("monitorEvents"));
    auto *pause = window->findChild<QPushButton *>(QStringLiteral("pauseButton"));
    ASSERT_TRUE(table && timeline && events && pause);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Route Monitor - 192.0.2.6"));
    QStringList headers;
    for (int column = 0; column < table->columnCount(); ++column)
        headers << table->horizontalHeaderItem(column)->text();
    EXPECT_EQ(headers.join(QLatin1Char(',')),
              QStringLiteral("Hop,Address,Host,AS,Place,Loss %,Sent,Last,Avg,Best,Worst,StDev,Jitter"));

    ASSERT_TRUE(WaitFor([&] { return monitor.RoundsResolved() >= 8 && monitor.Details().size() == 7; }));
    ASSERT_TRUE(WaitFor([&] { return window->Lines().join(QLatin1Char('\n')).contains(QLatin1String(".example")); }));
    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_TRUE(monitor.IsPaused());
    EXPECT_EQ(pause->text(), QStringLiteral("&Resume"));
    QTest::qWait(1200); // the rounds in flight resolve; then nothing changes
    const QStringList lines = window->Lines();
    ASSERT_EQ(lines.size(), 7) << lines.join(QLatin1Char('\n')).toStdString();
    const auto cells = [&](int row) { return lines[row].split(QStringLiteral("  ")); };
    EXPECT_EQ(cells(0).mid(0, 2), QStringList({"1", "192.0.2.1"}));
    EXPECT_EQ(cells(1)[1], QStringLiteral("198.51.100.10"));
    EXPECT_EQ(cells(1)[6], QStringLiteral("2")); // sent
    EXPECT_EQ(cells(2)[1], QStringLiteral("198.51.100.30"));
    EXPECT_EQ(cells(5)[2], QStringLiteral("<b>x</b>\u2407.example")) << "a host name is text, its controls visible";
    const int sent3 = cells(3)[6].toInt();
    EXPECT_EQ(cells(3)[5], QString::number(100.0 * (sent3 / 2) / sent3, 'f', 1)); // loss %
    EXPECT_TRUE(cells(6)[7] == QLatin1String("6.0") || cells(6)[7] == QLatin1String("6.5")) << cells(6)[7].toStdString();
    EXPECT_TRUE(table->item(5, 0)->data(Qt::AccessibleDescriptionRole).toString().startsWith(
        QStringLiteral("Hop 5, Address 192.0.2.5, Host <b>x</b>\u2407.example")));
    ASSERT_EQ(events->count(), 1);
    EXPECT_TRUE(events->item(0)->text().endsWith(QLatin1String(" hop 2: 198.51.100.10 -> 198.51.100.30")));

    // The destination's round trips while nothing is selected: a line, no loss; hop 3's losses
    // in red once it is selected.
    EXPECT_GT(CountPixels(timeline, Timeline::kLineColour), 20);
    EXPECT_EQ(CountPixels(timeline, Timeline::kLossColour), 0);
    table->selectRow(3);
    EXPECT_GT(CountPixels(timeline, Timeline::kLossColour), 10);
    auto *span = window->findChild<QComboBox *>(QStringLiteral("spanBox"));
    span->setCurrentIndex(2);
    EXPECT_EQ(timeline->SpanMs(), 3'600'000);

    // Copies: Ctrl+C the selected row, the menu every row.
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lines[3]);
    EXPECT_EQ(testsupport::ChooseFromListMenu(table, 1, QStringLiteral("Copy All")),
              QStringList({"Copy Line", "Copy All", "Save Report..."}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.join(QLatin1Char('\n')));

    auto *interval = window->findChild<QDoubleSpinBox *>(QStringLiteral("intervalBox"));
    interval->setValue(0.5);
    EXPECT_EQ(monitor.IntervalMs(), 500);
    // The profile keeps the interval a person chose, for the next monitor; --interval's is
    // for its monitor alone.
    EXPECT_EQ(quokka::geo::ProfileText::Read(quokka::geo::ProfileText::kMonitorInterval), QStringLiteral("0.5"));
    window->SetIntervalMs(2000);
    EXPECT_EQ(monitor.IntervalMs(), 2000);
    EXPECT_EQ(quokka::geo::ProfileText::Read(quokka::geo::ProfileText::kMonitorInterval), QStringLiteral("0.5"));
    window->SetIntervalMs(500);

    // Saved as CSV where asked.
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("saveReportButton")), Qt::LeftButton);
    auto *dialog = window->findChild<QFileDialog *>(QStringLiteral("saveReport"));
    ASSERT_TRUE(dialog && dialog->isVisible());
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    name->setText(dir.filePath(QStringLiteral("monitor.csv")));
    QTest::keyClick(name, Qt::Key_Return);
    QFile file(dir.filePath(QStringLiteral("monitor.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ToCsv(monitor.Stats(), monitor.Details()));

    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("resetButton")), Qt::LeftButton);
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(events->count(), 0);

    // Closing ends the monitor and its thread's source.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(WaitFor([&] { return seen->alive == 0; }, 1000));
}

// "Monitor Route" on the trace list's menu and the map's: disabled until the run has resolved
// its address, then opening a monitor of that address, which the dialog closes with itself.
TEST(MonitorRouteMenu, OpensAMonitorOfTheResolvedAddress)
{
    auto seen = std::make_shared<Seen>();
    QPointer<MonitorWindow> opened;
    {
        CQuokkaQuokkaDlg dialog;
        dialog.SetMonitorSource([seen](const QString &) { return std::make_unique<ScriptedSource>(SixHops, seen); });
        QObject::connect(&dialog, &CQuokkaQuokkaDlg::MonitorOpened, [&](MonitorWindow *window) { opened = window; });
        dialog.OpenResultWindows(quokka::geo::HomeLocation{300, 150}, std::make_shared<RunReport>());
        auto *list = dialog.TraceData()->findChild<QListWidget *>(QStringLiteral("traceList"));
        dialog.AddTraceLine(QStringLiteral("Hop 1"));
        // The map's menu, as a right click opens it: its enabled items.
        const auto mapMenu = [&](bool choose) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(50, 50), dialog.WorldMap()->mapToGlobal(QPoint(50, 50)));
            QApplication::sendEvent(dialog.WorldMap(), &event);
            QStringList enabled;
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *action : menu->actions())
                    if (action->isEnabled())
                        enabled << action->text();
                if (choose && !menu->actions().isEmpty())
                    menu->actions().first()->trigger();
                menu->close();
            }
            return enabled;
        };
        EXPECT_FALSE(testsupport::ChooseFromListMenu(list, 0, QString()).contains(QStringLiteral("Monitor Route")));
        EXPECT_EQ(mapMenu(false), QStringList());

        dialog.TargetResolved(QStringLiteral("192.0.2.6"));
        EXPECT_EQ(mapMenu(false), QStringList({"&Monitor Route"}));
        testsupport::ChooseFromListMenu(list, 0, QStringLiteral("Monitor Route"));
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->windowTitle(), QStringLiteral("Route Monitor - 192.0.2.6"));
        EXPECT_TRUE(opened->isVisible());
        EXPECT_EQ(opened->parentWidget(), nullptr) << "a window of its own";
        ASSERT_TRUE(WaitFor([&] { return opened->Monitor().RoundsResolved() >= 1; }));
        const QPointer<MonitorWindow> first = opened;
        mapMenu(true);
        EXPECT_NE(opened, first) << "each choice opens a monitor";
        EXPECT_TRUE(first);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(opened.isNull()) << "closed with the dialog";
    EXPECT_TRUE(WaitFor([&] { return seen->alive == 0; }, 1000));
}

} // namespace

// Rounds that paused leave a gap in the timeline's line: nothing is drawn across the pause.
TEST(MonitorTimeline, BreaksItsLineWhereTheRoundsPaused)
{
    Statistics statistics;
    const qint64 now = MonotonicMs();
    const QString address = QStringLiteral("198.51.100.1");
    int round = 0;
    // Rounds a second apart from 55 to 45 s ago and from 15 to 5 s ago; paused between.
    for (const qint64 from : {now - 55'000, now - 15'000})
        for (qint64 at = from; at <= from + 10'000; at += 1000)
            statistics.Answered(++round, 1, address, 20.0, at, QDateTime::currentDateTime());
    Timeline timeline;
    timeline.resize(600, 200);
    timeline.Show(&statistics, 1, address);
    const QImage image = timeline.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int inPause = 0, elsewhere = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if ((image.pixel(x, y) | 0xFF000000) == Timeline::kLineColour)
                ++((x > 260 && x < 400) ? inPause : elsewhere); // the middle of the pause, 40 to 20 s ago
    EXPECT_GT(elsewhere, 20) << "the rounds on either side are drawn";
    EXPECT_EQ(inPause, 0) << "a line is drawn across the pause";
}
