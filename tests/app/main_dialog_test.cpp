// The main dialog as a user meets it: its controls, the emblem's transparency, the About
// box, and Enter exploring instead of ending the program.
#include "app/about_dialog.h"
#include "base/wait.h"
#include "geo/home_location.h"
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "app/main_dialog.h"
#include "test_support.h"
#include "geo/setup.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quokka::app;
using quokka::trace::CTraceData;
using quokka::whois::CWhoisLookup;
using quokka::geo::CWorldMap;
using quokka::geo::CSetup;
using quokka::geo::HomeLocation;

namespace {

template <class T>
T *Child(QWidget &parent, const char *name)
{
    return parent.findChild<T *>(QString::fromLatin1(name));
}

// Runs CHECK on the modal or popup window that the next call opens, then closes it.
void OnNextModal(std::function<void(QWidget *)> check)
{
    QTimer::singleShot(50, [check] {
        QWidget *w = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                       : QApplication::activeModalWidget();
        check(w);
        if (w)
            w->close();
    });
}

} // namespace

TEST(MainDialog, ShowsItsControlsLaidOutFromDialogUnits)
{
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("quokka quokka"));
    EXPECT_EQ(dialog.size(), QSize(392, 111));
    bool labelFound = false;
    for (QLabel *label : dialog.findChildren<QLabel *>())
        labelFound |= label->text() == QStringLiteral("Domain to Explore (example.com, .net, .org, etc)");
    EXPECT_TRUE(labelFound);
    QPushButton *explore = Child<QPushButton>(dialog, "exploreButton");
    QPushButton *allDone = Child<QPushButton>(dialog, "allDoneButton");
    ASSERT_TRUE(explore && allDone);
    EXPECT_EQ(explore->text(), QStringLiteral("Explore"));
    EXPECT_EQ(allDone->text(), QStringLiteral("All Done"));
    EXPECT_EQ(explore->geometry(), QRect(216, 68, 75, 23));
    EXPECT_FALSE(explore->isDefault() || explore->autoDefault() || allDone->isDefault() || allDone->autoDefault());
    EXPECT_EQ(dialog.focusWidget(), Child<QLineEdit>(dialog, "domainEdit"));
    EXPECT_FALSE(dialog.windowIcon().isNull());
}

TEST(MainDialog, DrawsTheEmblemWithItsTransparency)
{
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    const QImage shot = dialog.grab().toImage();
    const QImage emblem(QStringLiteral(":/res/emblem.png"));
    ASSERT_EQ(emblem.size(), QSize(71, 92));
    ASSERT_EQ(qAlpha(emblem.pixel(0, 0)), 0);
    ASSERT_EQ(qAlpha(emblem.pixel(35, 35)), 255);
    const QColor background = dialog.palette().color(QPalette::Window);
    EXPECT_EQ(QColor(shot.pixel(0, 0)), background) << "a transparent pixel shows the dialog";
    EXPECT_EQ(QColor(shot.pixel(35, 35)).rgb(), QColor(emblem.pixel(35, 35)).rgb()) << "an opaque pixel is the emblem's";
}

TEST(MainDialog, OffersAboutFromTheContextMenuAndF1)
{
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    QString menuText;
    OnNextModal([&](QWidget *w) {
        if (auto *menu = qobject_cast<QMenu *>(w))
            menuText = menu->actions().value(0)->text();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 50), dialog.mapToGlobal(QPoint(100, 50)));
    QApplication::sendEvent(&dialog, &event);
    EXPECT_EQ(menuText, QStringLiteral("&About Quokka Quokka..."));

    QString title, version, legal;
    OnNextModal([&](QWidget *w) {
        ASSERT_TRUE(w);
        title = w->windowTitle();
        if (auto *label = w->findChild<QLabel *>(QStringLiteral("versionLabel")))
            version = label->text();
        if (auto *label = w->findChild<QLabel *>(QStringLiteral("legalLabel")))
            legal = label->text();
    });
    dialog.ShowAbout();
    EXPECT_EQ(title, QStringLiteral("About Quokka Quokka"));
    EXPECT_EQ(version, QStringLiteral("Quokka Quokka, Version 1.0"));
    for (const char *source : {"DB-IP", "RouteViews", "NRO"}) // each data licence asks to be named
        EXPECT_TRUE(legal.contains(QLatin1String(source))) << source << " missing from " << qPrintable(legal);
}

TEST(MainDialog, EnterInTheFieldExploresAndKeepsTheProgramOpen)
{
    // The run looks up WHOIS servers by name: keep every packet on this test's own loopback.
    if (!testsupport::IsolateNetwork())
        GTEST_SKIP() << "needs root for a network namespace of its own";
    // A profile of its own with a home point stored, so no first-run steps run.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    ASSERT_TRUE(HomeLocation::Write({422, 220}));
    CQuokkaQuokkaDlg dialog;
    ExplorationServices services = ExplorationServices::Real();
    services.timings.hopWaitMs = 0;
    dialog.SetServices(std::move(services));
    dialog.show();
    QLineEdit *edit = Child<QLineEdit>(dialog, "domainEdit");
    QPushButton *explore = Child<QPushButton>(dialog, "exploreButton");
    edit->setText(QStringLiteral("127.0.0.1"));
    QSignalSpy finished(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished);
    QTest::keyClick(edit, Qt::Key_Return);
    const bool disabledDuringRun = !explore->isEnabled();
    ASSERT_TRUE(finished.wait(10000));

    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(disabledDuringRun) << "one run at a time";
    EXPECT_TRUE(explore->isEnabled());
    ASSERT_NE(dialog.TraceData(), nullptr);
    auto *list = dialog.TraceData()->findChild<QListWidget *>(QStringLiteral("traceList"));
    ASSERT_TRUE(list);
    ASSERT_GE(list->count(), 1);
    if (list->count() == 2) { // allowed to probe: loopback answers at once
        EXPECT_TRUE(list->item(0)->text().startsWith(QStringLiteral("Hop 1     ")));
        EXPECT_TRUE(list->item(0)->text().endsWith(QStringLiteral("127.0.0.1      Home")));
        EXPECT_TRUE(list->item(1)->text().startsWith(QStringLiteral("Route Complete, Total Round Trip Time ")));
    } else {
        EXPECT_TRUE(list->item(0)->text().startsWith(QStringLiteral("Route tracing is not permitted here")));
    }
    // Enter stayed in this window: the result windows are all up, and none is a child of it.
    const QList<QWidget *> firstRun{dialog.WorldMap(), dialog.TraceData(), dialog.WhoisLookup()};
    for (QWidget *window : firstRun) {
        EXPECT_TRUE(window->isVisible()) << qPrintable(window->objectName());
        EXPECT_EQ(window->parentWidget(), nullptr) << qPrintable(window->objectName());
    }

    // A run started by a click leaves the focus on Explore, not on "All Done".
    QTest::mouseClick(explore, Qt::LeftButton);
    EXPECT_NE(dialog.focusWidget(), Child<QPushButton>(dialog, "allDoneButton")) << "during the run";
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(dialog.focusWidget(), explore);
    for (QWidget *window : firstRun)
        EXPECT_TRUE(window->isVisible()) << "an earlier run's " << qPrintable(window->objectName());
}

TEST(MainDialog, NoTextIsClippedInAnyWindow)
{
    CQuokkaQuokkaDlg dialog;
    CAboutDlg about;
    CWorldMap map;
    CTraceData trace;
    CWhoisLookup whois;
    CSetup setup;
    for (QWidget *window : QList<QWidget *>{&dialog, &about, &map, &trace, &whois, &setup}) {
        for (const QLabel *label : window->findChildren<QLabel *>()) {
            const QFontMetrics metrics(label->font());
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width()) << qPrintable(label->text());
            EXPECT_LE(metrics.height(), label->contentsRect().height()) << qPrintable(label->text());
        }
        for (const QPushButton *button : window->findChildren<QPushButton *>()) {
            const QFontMetrics metrics(button->font());
            const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
            EXPECT_LE(metrics.horizontalAdvance(button->text()) + 2 * margin, button->width()) << qPrintable(button->text());
            EXPECT_LE(metrics.height() + margin, button->height()) << qPrintable(button->text());
        }
    }
}

// "Prefer IPv6" is a checkable item of the context menu; the choice is kept in the profile as
// a value of its own beside the home point, and the next window starts with it.
TEST(MainDialog, KeepsPreferIPv6InTheProfileBesideTheHomePoint)
{
    QTemporaryDir profile;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profile.path());
    ASSERT_TRUE(HomeLocation::Write({422, 220}));
    // Opens DIALOG's context menu and hands its "Prefer IPv6" item to USE.
    const auto withItem = [](CQuokkaQuokkaDlg &dialog, const std::function<void(QAction *)> &use) {
        QAction *found = nullptr;
        OnNextModal([&](QWidget *w) {
            if (auto *menu = qobject_cast<QMenu *>(w)) {
                for (QAction *action : menu->actions())
                    found = action->text() == QStringLiteral("Prefer IPv&6") ? action : found;
                if (found)
                    use(found);
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 50), dialog.mapToGlobal(QPoint(100, 50)));
        QApplication::sendEvent(&dialog, &event);
        EXPECT_TRUE(found) << "the menu offers Prefer IPv6";
    };
    bool checkable = false, checkedBefore = true, checkedAfter = false;
    {
        CQuokkaQuokkaDlg dialog;
        dialog.show();
        EXPECT_FALSE(dialog.PrefersIPv6());
        withItem(dialog, [&](QAction *item) {
            checkable = item->isCheckable();
            checkedBefore = item->isChecked();
            item->trigger();
        });
        EXPECT_TRUE(dialog.PrefersIPv6());
    }
    EXPECT_TRUE(checkable);
    EXPECT_FALSE(checkedBefore);
    EXPECT_EQ(QSettings(profile.path() + QStringLiteral("/Local AppWizard-Generated Applications/")
                            + QCoreApplication::applicationName() + QStringLiteral(".conf"),
                        QSettings::IniFormat)
                  .value(QStringLiteral("quokka/PreferIPv6")),
              QStringLiteral("true"));
    EXPECT_EQ(HomeLocation::Read().x, 422) << "the home point stays as it was";
    CQuokkaQuokkaDlg next;
    next.show();
    EXPECT_TRUE(next.PrefersIPv6());
    withItem(next, [&](QAction *item) { checkedAfter = item->isChecked(); });
    EXPECT_TRUE(checkedAfter);
}

// Last here: it replaces the process's tables. The About box's data line names the table
// files in use, and its tooltip says for each kind of table which one is in use.
TEST(MainDialog, AboutNamesTheTableFilesInUse)
{
    const QString attribution = QStringLiteral("DB-IP, RouteViews, NRO");
    TablesInUse tables = DescribeTablesInUse();
    EXPECT_EQ(tables.line, QStringLiteral("IP data: ") + attribution);
    EXPECT_EQ(tables.details, QStringLiteral("Geolocation table: built in\nIPv6 geolocation table: built in\nAS table: built in"));

    QTemporaryDir folder;
    const QString city = folder.filePath(QStringLiteral("city.bin")), as = folder.filePath(QStringLiteral("as.bin"));
    QByteArray row(int(quokka::geo::GeoRecord::kSize), '\0');
    row[0] = 1; // one range, 1 to 2
    row[4] = 2;
    for (const auto &[path, bytes] : {std::pair{city, row}, std::pair{as, QByteArray("not a table")}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    EXPECT_TRUE(quokka::geo::GeoDatabase::UseFile(city.toStdString()));
    EXPECT_FALSE(quokka::geo::AsDatabase::UseFile(as.toStdString()));
    tables = DescribeTablesInUse();
    EXPECT_EQ(tables.line, QStringLiteral("IP data: city.bin, as.bin (") + attribution + u')');
    EXPECT_EQ(tables.details, QStringLiteral("Geolocation table: ") + city + QStringLiteral("\nIPv6 geolocation table: built in\nAS table: ")
                                  + as + QStringLiteral(" (refused: none in use)"));
    CAboutDlg about;
    auto *line = about.findChild<QLabel *>(QStringLiteral("legalLabel"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->toolTip(), tables.details);
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width()) << line->text().toStdString();
}
