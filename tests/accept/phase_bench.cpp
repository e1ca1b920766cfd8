// Figures of one exploration, step by step: name resolution, WHOIS, each probe and each
// wait, the whole run, and what the run costs beyond its own probe times and waits. Runs the
// real main dialog; meant for the client namespace of the acceptance network.
//   phase_bench DOMAIN GEO_TABLE
#include "geo/geo_database.h"
#include "geo/home_location.h"
#include "app/main_dialog.h"
#include "trace/trace_data.h"
#include "base/wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <map>
#include <vector>

using namespace quokka::app;
using quokka::trace::CTraceData;
using quokka::geo::GeoDatabase;
using quokka::geo::HomeLocation;

namespace {

struct Step {
    QString name;
    qint64 startMs = 0;
    qint64 lengthMs = 0;
};

// The round-trip time a hop line reports: "Hop 3     61ms      ...".
int LineRoundTrip(const QString &line)
{
    return line.mid(10, 10).trimmed().chopped(2).toInt();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: phase_bench DOMAIN GEO_TABLE\n");
        return 2;
    }
    GeoDatabase::UseFile(argv[2]);
    if (!HomeLocation::Read().IsSet())
        HomeLocation::Write({300, 150});
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    QElapsedTimer clock;
    std::vector<Step> steps;
    std::map<int, int> reportedRtt; // hop -> milliseconds
    bool complete = false;
    QObject::connect(&dialog, &CQuokkaQuokkaDlg::PhaseStarted, [&](const QString &phase) {
        steps.push_back({phase, clock.elapsed(), 0});
    });
    QObject::connect(&dialog, &CQuokkaQuokkaDlg::ResultWindowsOpened, [&] {
        QObject::connect(dialog.TraceData(), &CTraceData::LineAdded, [&](const QString &line) {
            if (line.startsWith(QLatin1String("Hop ")))
                reportedRtt[line.mid(4, 6).trimmed().toInt()] = LineRoundTrip(line);
            complete = complete || line.startsWith(QLatin1String("Route Complete"));
        });
    });
    qint64 totalMs = 0;
    QObject::connect(&dialog, &CQuokkaQuokkaDlg::ExplorationFinished, [&] {
        totalMs = clock.elapsed();
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, &dialog, [&] {
        clock.start();
        dialog.StartExploration(QString::fromLocal8Bit(argv[1]));
    });
    app.exec();

    qint64 designMs = 0, stepsMs = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Step &step = steps[i];
        step.lengthMs = (i + 1 < steps.size() ? steps[i + 1].startMs : totalMs) - step.startMs;
        stepsMs += step.lengthMs;
        QString own;
        if (step.name.startsWith(QLatin1String("probe "))) {
            const auto hop = reportedRtt.find(step.name.mid(6).toInt());
            const int ms = hop != reportedRtt.end() ? hop->second : 400; // no answer: the whole wait
            designMs += ms;
            own = QStringLiteral(" (%1 %2 ms)").arg(hop != reportedRtt.end() ? "round trip" : "no answer,").arg(ms);
        } else if (step.name.startsWith(QLatin1String("wait "))) {
            designMs += quokka::Timings{}.hopWaitMs;
            own = QStringLiteral(" (%1 ms the run waits)").arg(quokka::Timings{}.hopWaitMs);
        }
        std::printf("%-12s %6lld ms%s\n", qPrintable(step.name), step.lengthMs, qPrintable(own));
    }
    std::printf("total        %6lld ms (windows opened at %lld ms)\n", totalMs, steps.empty() ? 0 : steps.front().startMs);
    std::printf("the run's own probe times and waits: %lld ms; overhead beyond them: %lld ms (%.2f%% of the run)\n",
                designMs, totalMs - designMs, totalMs ? 100.0 * double(totalMs - designMs) / double(totalMs) : 0.0);
    std::printf("before the first step (home check, windows): %lld ms\n", totalMs - stepsMs);
    return complete ? 0 : 1;
}
