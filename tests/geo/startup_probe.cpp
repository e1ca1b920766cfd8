// The program's start as the benchmark sees it: the main dialog is built and shown, then
// 10,000 lookups run on the table in use. Prints, on standard output, "shown RSS ANON FILE"
// (kilobytes) once the event loop runs with the dialog shown, then "looked-up RSS ANON FILE
// MATCHES", and ends.
// Linked twice: with the table inside and without it, for the start-up comparison.
#include "geo/geo_database.h"
#include "app/main_dialog.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

using quokka::app::CQuokkaQuokkaDlg;
using namespace quokka::geo;

namespace {

// "TOTAL ANON FILE": resident kilobytes in all, private, and pages of mapped files.
std::string ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line, total, anon, file;
    while (std::getline(status, line)) {
        const std::string value = line.substr(line.find(':') + 1);
        if (line.rfind("VmRSS:", 0) == 0)
            total = std::to_string(std::stol(value));
        else if (line.rfind("RssAnon:", 0) == 0)
            anon = std::to_string(std::stol(value));
        else if (line.rfind("RssFile:", 0) == 0)
            file = std::to_string(std::stol(value));
    }
    return total + ' ' + anon + ' ' + file;
}

int LookUpTenThousand()
{
    std::mt19937 random(11);
    std::uniform_int_distribution<unsigned> octet(0, 255);
    int matches = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string address = std::to_string(octet(random)) + '.' + std::to_string(octet(random)) + '.'
            + std::to_string(octet(random)) + '.' + std::to_string(octet(random));
        GeoRecord record;
        matches += GeoDatabase::Instance().Find(address.c_str(), record);
    }
    return matches;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    CQuokkaQuokkaDlg dialog;
    dialog.show();
    QTimer::singleShot(0, &dialog, [] {
        std::printf("shown %s\n", ResidentKilobytes().c_str());
        std::fflush(stdout);
        const int matches = LookUpTenThousand();
        std::printf("looked-up %s %d\n", ResidentKilobytes().c_str(), matches);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    return app.exec();
}
