#include "app/options.h"

#include "app/lookup_command.h"
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"
#include "geo/home_location.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>

namespace quokka::app {
using quokka::geo::AsDatabase;
using quokka::geo::GeoDatabase;
using quokka::geo::GeoDatabase6;
using quokka::geo::HomeLocation;
using quokka::geo::ProfileText;

namespace {

struct Declared {
    QCommandLineOption explore, ipv6, quit, report, json, screenshot, verbose, geoTable, geoTableIpv6, asTable, keepTables,
        lookup, home, monitor, interval,
        help, version;
};

Declared Declare(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Shows where an Internet domain lives and how traffic gets there: its WHOIS record, "
        "the route to it hop by hop, and each hop on a world map."));
    Declared o{
        {QStringLiteral("explore"), QStringLiteral("Explore DOMAIN once the window is shown."), QStringLiteral("DOMAIN")},
        {QStringLiteral("ipv6"), QStringLiteral("Explore a name that has both IPv4 and IPv6 addresses over IPv6 (as \"Prefer IPv6\" on the context menu, for this run only).")},
        {QStringLiteral("quit"), QStringLiteral("End the program when that exploration ends.")},
        {QStringLiteral("report"), QStringLiteral("Print every line added to a result window (trace<TAB>line, whois<TAB>line).")},
        {QStringLiteral("json"), QStringLiteral("Write the exploration as JSON to FILE (- for standard output) when it ends."), QStringLiteral("FILE")},
        {QStringLiteral("screenshot"), QStringLiteral("Save the result windows as DIR/trace.png, DIR/map.png and DIR/whois.png when the exploration ends."), QStringLiteral("DIR")},
        {QStringLiteral("verbose"), QStringLiteral("Write the debug log to standard error.")},
        {QStringLiteral("geo-table"), QStringLiteral("Use the geolocation table FILE instead of the built-in one (also QUOKKA_GEO_TABLE)."), QStringLiteral("FILE")},
        {QStringLiteral("geo-table-ipv6"), QStringLiteral("Use the IPv6 geolocation table FILE instead of the built-in one (also QUOKKA_GEO_TABLE_IPV6)."), QStringLiteral("FILE")},
        {QStringLiteral("as-table"), QStringLiteral("Use the AS table FILE instead of the built-in one (also QUOKKA_AS_TABLE)."), QStringLiteral("FILE")},
        {QStringLiteral("keep-tables"), QStringLiteral("Keep the tables given with --geo-table, --geo-table-ipv6 and --as-table (the built-in one for each not given) in the profile, for every later run without those options, and end.")},
        {QStringLiteral("lookup"), QStringLiteral("Print the geolocation row and AS of each ADDRESS given as an argument, and end; the argument - reads addresses from standard input, one a line.")},
        {QStringLiteral("home"), QStringLiteral("Store the home point X,Y (map pixels) without asking, and end."), QStringLiteral("X,Y")},
        {QStringLiteral("monitor"), QStringLiteral("With --explore: monitor the route in a Route Monitor window when the exploration ends; with --quit, end after ROUNDS rounds (0: when the window is closed)."), QStringLiteral("ROUNDS")},
        {QStringLiteral("interval"), QStringLiteral("The monitor's time between rounds, 0.01 to 60 seconds (1 unless given)."), QStringLiteral("SECONDS")},
        // Declared here rather than by the parser's own helpers, which would add --help-all for
        // Qt's options: the command line takes none of those.
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays help on commandline options.")},
        {{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Displays version information.")},
    };
    parser.addOptions({o.help, o.version, o.explore, o.ipv6, o.quit, o.report, o.json, o.screenshot, o.verbose, o.geoTable,
                       o.geoTableIpv6, o.asTable, o.keepTables, o.lookup, o.home, o.monitor, o.interval});
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("Addresses for --lookup (- for standard input)."), QStringLiteral("[ADDRESS...]"));
    return o;
}

// The usage text names the program as it was started, which the parser takes from the
// application object: so it is made when that exists.
QString HelpText()
{
    QCommandLineParser parser;
    Declare(parser);
    return parser.helpText();
}

} // namespace

Options ParseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Declared o = Declare(parser);
    Options options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    options.explore = parser.value(o.explore);
    options.ipv6 = parser.isSet(o.ipv6);
    options.quit = parser.isSet(o.quit);
    options.report = parser.isSet(o.report);
    options.screenshotDir = parser.value(o.screenshot);
    options.verbose = parser.isSet(o.verbose);
    options.geoTable = parser.isSet(o.geoTable) ? parser.value(o.geoTable) : qEnvironmentVariable("QUOKKA_GEO_TABLE");
    options.geoTableIpv6 = parser.isSet(o.geoTableIpv6) ? parser.value(o.geoTableIpv6) : qEnvironmentVariable("QUOKKA_GEO_TABLE_IPV6");
    options.asTable = parser.isSet(o.asTable) ? parser.value(o.asTable) : qEnvironmentVariable("QUOKKA_AS_TABLE");
    options.keepTables = parser.isSet(o.keepTables);
    options.jsonFile = parser.value(o.json);
    options.lookup = parser.isSet(o.lookup);
    options.addresses = parser.positionalArguments();
    if (parser.isSet(o.home))
        options.home = parser.value(o.home);
    options.help = parser.isSet(o.help);
    options.version = parser.isSet(o.version);
    if (!options.lookup && !options.addresses.isEmpty())
        options.error = QStringLiteral("Unexpected argument: %1").arg(options.addresses.first());
    if (parser.isSet(o.monitor)) {
        bool ok = false;
        const int rounds = parser.value(o.monitor).trimmed().toInt(&ok);
        if (!ok || rounds < 0)
            options.error = QStringLiteral("--monitor takes a number of rounds, 0 or more (0: until the window is closed)");
        else if (options.explore.isNull())
            options.error = QStringLiteral("--monitor monitors the route of --explore DOMAIN");
        else
            options.monitorRounds = rounds;
    }
    if (parser.isSet(o.interval)) {
        bool ok = false;
        const double seconds = parser.value(o.interval).trimmed().toDouble(&ok);
        if (!ok || !(seconds >= 0.01 && seconds <= 60))
            options.error = QStringLiteral("--interval takes 0.01 to 60 seconds");
        else if (!parser.isSet(o.monitor))
            options.error = QStringLiteral("--interval sets the time between the rounds of --monitor");
        else
            options.intervalMs = int(std::lround(seconds * 1000));
    }
    return options;
}

namespace {

int StoreHome(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(-?\\d+)\\s*,\\s*(-?\\d+)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    bool okX = false, okY = false;
    const int x = match.hasMatch() ? match.captured(1).toInt(&okX) : 0;
    const int y = match.hasMatch() ? match.captured(2).toInt(&okY) : 0;
    if (!okX || !okY) {
        std::fprintf(stderr, "quokka-quokka: --home takes X,Y in map pixels, for example 422,220\n");
        return 2;
    }
    if (!HomeLocation::Write({x, y})) {
        std::fprintf(stderr, "quokka-quokka: the home point could not be stored\n");
        return 1;
    }
    return 0;
}

// Keeps the tables the command line gives in the profile, once each of them has passed its
// checks (UseTables has tried them; a refused one has said why on standard error).
int KeepTables(const Options &options)
{
    bool refused[3] = {};
    GeoDatabase::FileInUse(&refused[0]);
    GeoDatabase6::FileInUse(&refused[1]);
    AsDatabase::FileInUse(&refused[2]);
    if (refused[0] || refused[1] || refused[2]) {
        std::fprintf(stderr, "quokka-quokka: the tables were not kept\n");
        return 1;
    }
    const auto absolute = [](const QString &path) { return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath(); };
    if (!ProfileText::Write(ProfileText::kGeoTable, absolute(options.geoTable))
        || !ProfileText::Write(ProfileText::kGeoTableIpv6, absolute(options.geoTableIpv6))
        || !ProfileText::Write(ProfileText::kAsTable, absolute(options.asTable))) {
        std::fprintf(stderr, "quokka-quokka: the tables could not be kept in the profile\n");
        return 1;
    }
    return 0;
}

} // namespace

void UseTables(const Options &options)
{
    // A table given on the command line or in the environment, else the one the profile keeps
    // (--keep-tables keeps what it is given alone).
    const auto chosen = [&options](const QString &given, const QString &key) {
        return !given.isEmpty() || options.keepTables ? given : ProfileText::Read(key);
    };
    if (const QString file = chosen(options.geoTable, ProfileText::kGeoTable); !file.isEmpty())
        GeoDatabase::UseFile(QFile::encodeName(file).toStdString());
    if (const QString file = chosen(options.geoTableIpv6, ProfileText::kGeoTableIpv6); !file.isEmpty())
        GeoDatabase6::UseFile(QFile::encodeName(file).toStdString());
    if (const QString file = chosen(options.asTable, ProfileText::kAsTable); !file.isEmpty())
        AsDatabase::UseFile(QFile::encodeName(file).toStdString());
}

int RunCommand(const Options &options)
{
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "quokka-quokka: %s\n", qPrintable(options.error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(HelpText()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quokka-quokka %s\n", QUOKKA_VERSION);
        return 0;
    }
    if (!options.home.isNull())
        return StoreHome(options.home);
    if (options.keepTables)
        return KeepTables(options);
    return RunLookup(options.addresses);
}

} // namespace quokka::app
