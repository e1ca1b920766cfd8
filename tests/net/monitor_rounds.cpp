// Monitors the route to DESTINATION without a window: the route monitor's own session, on a
// core application, until ROUNDS rounds at INTERVAL_MS are resolved. Prints the monitor's
// report lines, then "cpu ROUNDS USER_MS SYSTEM_MS": the processor time the process spent
// from its first round to its last, start-up left out.
//   monitor_rounds DESTINATION ROUNDS INTERVAL_MS
#include "app/monitor_session.h"
#include "base/worker.h"

#include <QCoreApplication>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace monitor = quokka::app::monitor;

namespace {

double Ms(const timeval &time)
{
    return double(time.tv_sec) * 1000 + double(time.tv_usec) / 1000;
}

} // namespace

int Monitor(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: monitor_rounds DESTINATION ROUNDS INTERVAL_MS\n");
        return 2;
    }
    const int rounds = std::atoi(argv[2]);
    // No names (and no table beyond what is linked in): the comparison is of rounds and
    // statistics.
    monitor::Session session(QString::fromLatin1(argv[1]), quokka::app::ExplorationServices{});
    session.SetInterval(std::atoi(argv[3]));

    rusage before{};
    QObject::connect(&session, &monitor::Session::Failed, &application, [](const QString &text) {
        std::fprintf(stderr, "monitor_rounds: %s\n", text.toUtf8().constData());
        QCoreApplication::exit(1);
    });
    bool reported = false;
    QObject::connect(&session, &monitor::Session::RoundResolved, &application, [&] {
        // Rounds resolved before the loop ends (exit returns to it first) are not reported.
        if (reported || session.RoundsResolved() < rounds)
            return;
        reported = true;
        session.Pause();
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        for (const QString &line : monitor::ReportLines(session.Stats(), session.Details()))
            std::printf("%s\n", line.toUtf8().constData());
        std::printf("cpu %d %.1f %.1f\n", rounds, Ms(after.ru_utime) - Ms(before.ru_utime),
                    Ms(after.ru_stime) - Ms(before.ru_stime));
        QCoreApplication::exit(0);
    });
    ::getrusage(RUSAGE_SELF, &before);
    session.Start();
    return QCoreApplication::exec();
}

int main(int argc, char **argv)
{
    const int status = Monitor(argc, argv);
    // The session's probing thread closes its source and ends on its own; wait for it.
    quokka::WaitForWorkers();
    return status;
}
