#pragma once
// The text of a launcher (a freedesktop desktop entry): how values and the command line are
// written in it. Used for the launchers the first run writes and for the menu entry the
// installation writes (quokka-desktop-entry).
#include <QString>

namespace quokka::app {

// A string value: backslashes, line ends and tabs written as escapes.
QString LauncherValue(const QString &value);

// The Exec value that starts PROGRAM with no arguments: the path as it is where it holds no
// character the launcher rules reserve, else in double quotes with " ` $ \ escaped; "%"
// doubled either way (no field code); then escaped as a string value.
QString LauncherExec(const QString &program);

} // namespace quokka::app
