#pragma once
// `quokka-quokka --lookup ADDRESS...`: one line for each address (see geo/lookup_line.h), in
// the order given; the argument "-" stands for the lines of standard input, answered as they
// come. Exit status 0, also for text that is not an address; 1 when standard input is closed
// or cannot be read (one message), or when standard output is closed or broken (quietly).
#include <QStringList>

namespace quokka::app {

int RunLookup(const QStringList &arguments);

} // namespace quokka::app
