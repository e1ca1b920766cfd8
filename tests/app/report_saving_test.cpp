// Saving a run's report from its result windows: where the user says, as JSON or CSV by the
// name and the filter chosen, the report the run found; a failed save is said.
#include "app/main_dialog.h"
#include "app/report_file.h"
#include "geo/home_location.h"
#include "list_menu.h"
#include "trace/trace_data.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quokka::app;
using quokka::trace::CTraceData;
using quokka::geo::HomeLocation;

namespace {

using testsupport::ChooseFromListMenu;

// A run's windows as the dialog opens them, with a report whose hop 2 was named by a stranger.
struct SavingWindows {
    SavingWindows()
    {
        report->domain = QStringLiteral("accept.example");
        report->target = QStringLiteral("203.0.113.2");
        for (int ttl : {1, 2, 4}) {
            HopDetail hop;
            hop.row = int(report->hops.size());
            hop.ttl = ttl;
            hop.address = QStringLiteral("198.51.100.%1").arg(ttl);
            hop.line = QStringLiteral("Hop %1").arg(ttl);
            report->hops << hop;
        }
        report->hops[1].hostName = QStringLiteral("<b>x</b>\u0007.example");
        report->hops[1].asn = 64500;
        report->hops[1].asName = QStringLiteral("=HYPERLINK(\"x\")");
        dialog.OpenResultWindows(HomeLocation{300, 150}, report);
        trace = dialog.TraceData();
        list = trace->findChild<QListWidget *>(QStringLiteral("traceList"));
        for (const HopDetail &hop : report->hops)
            dialog.AddTraceLine(hop.line);
    }
    std::shared_ptr<RunReport> report = std::make_shared<RunReport>();
    CQuokkaQuokkaDlg dialog;
    CTraceData *trace = nullptr;
    QListWidget *list = nullptr;
};

} // namespace

// Each row: what is typed into the dialog, the filter chosen, the file written and its kind.
TEST(ReportSaving, SavesTheRunsReportWhereAskedAsJsonOrCsvAndSaysWhenItCannot)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8()); // the dialog's own settings
    SavingWindows t;
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
        auto *dialog = t.trace->findChild<QFileDialog *>(QStringLiteral("saveReport"));
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
            EXPECT_EQ(data, runreport::ToCsv(*t.report)) << row.written;
            EXPECT_TRUE(data.contains("\"'=HYPERLINK(\"\"x\"\")\"")) << data.constData();
        } else {
            const QJsonObject root = QJsonDocument::fromJson(data).object();
            EXPECT_EQ(root.value("hops").toArray().at(1).toObject().value("hostname").toString(),
                      t.report->hops[1].hostName) << row.written;
            EXPECT_EQ(root.value("domain").toString(), QStringLiteral("accept.example"));
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4) << "no temporary file is left behind";

    ChooseFromListMenu(t.list, 0, QStringLiteral("Save Report..."));
    auto *dialog = t.trace->findChild<QFileDialog *>(QStringLiteral("saveReport"));
    ASSERT_TRUE(dialog);
    const QString missing = dir.filePath(QStringLiteral("no such folder/e.json"));
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    name->setText(missing);
    QTest::keyClick(name, Qt::Key_Return);
    auto *box = t.trace->findChild<QMessageBox *>(QStringLiteral("saveReportFailed"));
    ASSERT_TRUE(box && box->isVisible()) << "a failed save is said";
    EXPECT_TRUE(box->text().contains(missing)) << qPrintable(box->text());
}
