#include "app/report_file.h"

#include "base/output_file.h"

namespace quokka::app {

namespace runreport {

const QString kJsonFilter = QStringLiteral("JSON report (*.json)");
const QString kCsvFilter = QStringLiteral("CSV report (*.csv)");

namespace {

bool IsCsv(const QString &name)
{
    return name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
}

} // namespace

QString PathForFilter(const QString &name, const QString &filter)
{
    if (IsCsv(name) || name.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return name;
    return name + (filter == kCsvFilter ? QLatin1String(".csv") : QLatin1String(".json"));
}

QString SaveReport(const RunReport &report, const QString &path)
{
    return quokka::WriteOutputFile(path, IsCsv(path) ? ToCsv(report) : ToJson(report));
}

} // namespace runreport

} // namespace quokka::app
