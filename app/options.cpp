#include "options.h"

#include "geo_database.h"
#include "home_location.h"
#include "lookup_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <cstdio>

Options ParseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows where an Internet domain lives and how traffic gets there: its WHOIS record, "
        "the route to it hop by hop, and each hop on a world map."));
    const QCommandLineOption explore(QStringLiteral("explore"), QStringLiteral("Explore DOMAIN once the window is shown."), QStringLiteral("DOMAIN"));
    const QCommandLineOption quit(QStringLiteral("quit"), QStringLiteral("End the program when that exploration ends."));
    const QCommandLineOption report(QStringLiteral("report"), QStringLiteral("Print every line added to a result window (trace<TAB>line, whois<TAB>line)."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save the result windows as DIR/trace.png, DIR/map.png and DIR/whois.png when the exploration ends."), QStringLiteral("DIR"));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Write the debug log to standard error."));
    const QCommandLineOption geoTable(QStringLiteral("geo-table"), QStringLiteral("Use the geolocation table FILE instead of the built-in one (also QUOKKA_GEO_TABLE)."), QStringLiteral("FILE"));
    const QCommandLineOption lookup(QStringLiteral("lookup"), QStringLiteral("Print the table's row for each ADDRESS given as an argument, and end."));
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Store the home point X,Y (map pixels) without asking, and end."), QStringLiteral("X,Y"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({explore, quit, report, screenshot, verbose, geoTable, lookup, home});
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("Addresses for --lookup."), QStringLiteral("[ADDRESS...]"));

    Options options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    options.explore = parser.value(explore);
    options.quit = parser.isSet(quit);
    options.report = parser.isSet(report);
    options.screenshotDir = parser.value(screenshot);
    options.verbose = parser.isSet(verbose);
    options.geoTable = parser.isSet(geoTable) ? parser.value(geoTable) : qEnvironmentVariable("QUOKKA_GEO_TABLE");
    options.lookup = parser.isSet(lookup);
    options.addresses = parser.positionalArguments();
    if (parser.isSet(home))
        options.home = parser.value(home);
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.helpText = parser.helpText();
    if (!options.lookup && !options.addresses.isEmpty())
        options.error = QStringLiteral("Unexpected argument: %1").arg(options.addresses.first());
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

} // namespace

int RunCommand(const Options &options)
{
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "quokka-quokka: %s\n", qPrintable(options.error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(options.helpText), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quokka-quokka 1.0\n");
        return 0;
    }
    if (!options.home.isNull())
        return StoreHome(options.home);
    for (const QString &address : options.addresses)
        std::printf("%s\n", LookupLine(GeoDatabase::Instance(), address.toStdString()).c_str());
    return 0;
}
