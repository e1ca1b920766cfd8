#include "app/lookup_command.h"

#include "base/standard_streams.h"
#include "base/write_all.h"
#include "geo/lookup_stream.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace quokka::app {
using quokka::geo::AsDatabase;
using quokka::geo::GeoDatabase;
using quokka::geo::GeoDatabase6;
using quokka::geo::LookupLines;
using quokka::geo::LookupStream;
using quokka::geo::StreamEnd;

namespace {

// Answers the arguments before the next "-" (or the end) from AT, and moves AT past them.
bool AnswerArguments(const QStringList &arguments, qsizetype &at, LookupLines &lines)
{
    std::vector<std::string> texts;
    for (; at < arguments.size() && arguments[at] != QLatin1String("-"); ++at)
        texts.push_back(arguments[at].toStdString());
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    std::string answers;
    lines.Append(views, answers);
    return quokka::WriteAll(STDOUT_FILENO, answers) == 0;
}

} // namespace

int RunLookup(const QStringList &arguments)
{
    if (quokka::StandardStreamWasClosed(STDOUT_FILENO))
        return 1;
    // A reader that goes away ends the program through the failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    LookupLines lines(GeoDatabase::Instance(), GeoDatabase6::Instance(), AsDatabase::Instance());
    for (qsizetype at = 0;;) {
        if (!AnswerArguments(arguments, at, lines))
            return 1;
        if (at == arguments.size())
            return 0;
        ++at; // the "-"
        if (quokka::StandardStreamWasClosed(STDIN_FILENO)) {
            std::fprintf(stderr, "quokka-quokka: --lookup -: standard input is closed\n");
            return 1;
        }
        switch (LookupStream(STDIN_FILENO, STDOUT_FILENO, lines)) {
        case StreamEnd::InputEnded:
            break;
        case StreamEnd::ReadFailed:
            std::fprintf(stderr, "quokka-quokka: --lookup -: standard input cannot be read: %s\n", std::strerror(errno));
            return 1;
        case StreamEnd::WriteFailed:
            return 1;
        }
    }
}

} // namespace quokka::app
