#pragma once
// Small helpers the tests share: paths, commands, privileges.
#include <string>
#include <vector>

namespace testsupport {

// The project's source folder (QUOKKA_SOURCE_DIR, set by CTest).
std::string SourceDir();
// Runs COMMAND through /bin/sh; returns its exit status and, when asked, what it printed.
int Run(const std::string &command, std::string *output = nullptr);
bool IsRoot();
// In a forked child: replaces the process with the program ARGS[0], given ARGS; exits with
// status 127 when that fails.
[[noreturn]] void ExecOrExit(const std::vector<std::string> &args);

// Moves this thread (and the threads it starts later) into a network namespace of its own
// with only loopback up, so nothing a test does can reach another network. Needs root.
bool IsolateNetwork();

} // namespace testsupport
