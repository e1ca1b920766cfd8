#pragma once
// Name resolution of a test process's own: a hosts file and a resolver configuration laid
// over /etc/hosts and /etc/resolv.conf in a mount namespace of the calling thread (and the
// threads it starts later). With testsupport::IsolateNetwork() first, no lookup can leave
// the test's network namespace. Needs root.
#include <string>

namespace accepttest {

bool UseNameFiles(const std::string &hosts, const std::string &resolvConf);

// Runs COMMAND through the shell in this thread's namespaces; true when it succeeds.
bool Shell(const std::string &command);

} // namespace accepttest
