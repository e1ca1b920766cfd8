#include "test_support.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::string SourceDir()
{
    return qEnvironmentVariable("QUOKKA_SOURCE_DIR", QStringLiteral(".")).toStdString();
}

int Run(const std::string &command, std::string *output)
{
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output)
            output->append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsRoot()
{
    return ::geteuid() == 0;
}

bool IsolateNetwork()
{
    return IsRoot() && ::unshare(CLONE_NEWNET) == 0 && Run("ip link set lo up") == 0;
}

void ExecOrExit(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

} // namespace testsupport
