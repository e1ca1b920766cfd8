#pragma once
// The command line: automation for tests and headless users, and the table and home tools.
#include <QString>
#include <QStringList>
#include <optional>

namespace quokka::app {

struct Options {
    QString explore;       // --explore DOMAIN: type it and press Explore once shown
    bool ipv6 = false;     // --ipv6: explore a name with both families over IPv6
    bool quit = false;     // --quit: end the program when that run ends
    bool report = false;   // --report: print every line added to a result window
    QString screenshotDir; // --screenshot DIR: save the run's windows as pictures
    bool verbose = false;  // --verbose: the debug log on standard error
    QString jsonFile;      // --json FILE: write the run as JSON there ("-": standard output) when it ends
    std::optional<int> monitorRounds; // --monitor ROUNDS: monitor the explored route (0: until its window closes)
    std::optional<int> intervalMs;    // --interval SECONDS: the monitor's time between rounds
    QString geoTable;      // --geo-table FILE, or QUOKKA_GEO_TABLE
    QString geoTableIpv6;  // --geo-table-ipv6 FILE, or QUOKKA_GEO_TABLE_IPV6
    QString asTable;       // --as-table FILE, or QUOKKA_AS_TABLE
    bool keepTables = false; // --keep-tables: keep those three in the profile, no window
    bool lookup = false;   // --lookup ADDRESS... (- for standard input): print rows and AS, no window
    QStringList addresses;
    QString home;          // --home X,Y: store a home point, no window
    bool help = false;
    bool version = false;
    QString error;         // why the command line was refused

    // The modes that need no display.
    bool IsCommandOnly() const { return lookup || keepTables || !home.isNull() || help || version || !error.isEmpty(); }
};

Options ParseOptions(const QStringList &arguments);

// Makes the tables the command line or the environment names, else those the profile keeps,
// the process's tables in use. Needs the application object (the profile is named after it).
void UseTables(const Options &options);

// Runs a command-only mode; returns the process's exit status. Needs the application object
// and the tables in use.
int RunCommand(const Options &options);

} // namespace quokka::app
