#include "isolated_names.h"

#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>

namespace accepttest {
namespace {

bool LayOver(const std::string &target, const std::string &folder, const std::string &name, const std::string &text)
{
    const std::string path = folder + "/" + name;
    std::ofstream(path) << text;
    if (::mount(path.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0)
        return true;
    std::perror(("bind mount over " + target).c_str());
    return false;
}

} // namespace

bool UseNameFiles(const std::string &hosts, const std::string &resolvConf)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    char folder[] = "/tmp/quokka-names-XXXXXX";
    if (!::mkdtemp(folder))
        return false;
    const bool laid = LayOver("/etc/hosts", folder, "hosts", hosts)
        && LayOver("/etc/resolv.conf", folder, "resolv.conf", resolvConf);
    // A bind mount keeps its file after the name is gone, so nothing is left behind.
    testsupport::Run(std::string("rm -rf ") + folder);
    return laid;
}

bool Shell(const std::string &command)
{
    std::string output;
    if (testsupport::Run(command + " 2>&1", &output) == 0)
        return true;
    std::fprintf(stderr, "%s: %s\n", command.c_str(), output.c_str());
    return false;
}

} // namespace accepttest
