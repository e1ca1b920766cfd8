#pragma once
// A run report written to a file a person chose: JSON or CSV by the name's suffix.
#include "app/run_report.h"

#include <QString>

namespace quokka::app {

namespace runreport {

// The name filters a save dialog offers, JSON first.
extern const QString kJsonFilter;
extern const QString kCsvFilter;

// NAME as it is saved: kept when it ends in ".json" or ".csv" (any case), else with the
// suffix of FILTER (one of the above) appended.
QString PathForFilter(const QString &name, const QString &filter);

// Writes REPORT to PATH, as CSV when PATH ends in ".csv" and as JSON otherwise, as
// quokka::WriteOutputFile writes: a regular file of the user's own is replaced only once the
// new one is complete. Returns an empty string, or what went wrong.
QString SaveReport(const RunReport &report, const QString &path);

} // namespace runreport

} // namespace quokka::app
