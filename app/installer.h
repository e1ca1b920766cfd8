#pragma once
// First-run installation: a per-user copy of the running program, its icon beside it, and a
// launcher for that copy on the desktop and in the applications menu.
#include <QString>
#include <stop_token>

namespace quokka::app {

// Where the installer reads and writes. CInstaller fills it from the environment; tests fill
// it with folders of their own.
struct InstallPlaces {
    QString program;      // the program file to copy (for the running program: /proc/self/exe)
    QString programName;  // file name of the copy; empty: the file name of `program`
    QString dataHome;     // per-user application-data folder; the copy gets a folder of its own in it
    QString desktop;      // the user's desktop folder; empty or missing: no desktop launcher
    QString applications; // the folder of the menu's launchers (made when missing)
    QString probeHelper;  // the probe helper the copy is to use; a link to it goes beside the copy
};

// The running program and the current user's folders, as the environment names them.
InstallPlaces InstallPlacesFromEnvironment();

// Copies the program into "<dataHome>/Quokka Quokka/", saves the icon beside it, links the
// probe helper there (a capability stays with its file, so the copy uses the original
// helper), and writes both launchers when the copy is there. A failure writes one line to the debug log and skips
// what depends on it; nothing is thrown or shown. STOP ends the work between two chunks of
// the copy: the unfinished copy is removed, nothing is put in place, and no later step runs.
void InstallProgram(const InstallPlaces &places, std::stop_token stop = {});

// Installs the running program for the current user while it is constructed; keeps nothing.
class CInstaller {
public:
    explicit CInstaller(std::stop_token stop = {});
};

} // namespace quokka::app
