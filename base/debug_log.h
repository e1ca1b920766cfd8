#pragma once
// The program's debug log: the lines a developer watches ("Whois", each hop's address).
// Off unless enabled with --verbose or QT_LOGGING_RULES="quokka.debug=true".
#include <QLoggingCategory>

namespace quokka {

// A logging category keeps Qt's way of naming them.
Q_DECLARE_LOGGING_CATEGORY(lcQuokka)

} // namespace quokka
