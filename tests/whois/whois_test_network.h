#pragma once
// A network namespace of WHOIS test servers on documentation addresses, with a hosts file
// that names them, for tests that run the real client on the real port 43. Root only.
#include "whois/whois_exchange.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace whoistest {

// One server of the test network. FILE names a fixture in the network's folder.
struct TestServer {
    const char *label;   // also names its record file: <dir>/record-<label>
    const char *host;
    const char *address;
    const char *mode;    // see whois_test_server.cpp
    const char *argument;
};

extern const std::vector<TestServer> kServers;

// Names that resolve but where nothing answers.
inline constexpr char kRefusedHost[] = "whois.refused.test";   // nothing listens: refused
inline constexpr char kBlackholeHost[] = "whois.blackhole.test"; // packets dropped: no answer
inline constexpr char kIanaAddress[] = "192.0.2.43";

// Where IANA's host name points in a phase of the test run.
enum class IanaEntry { Server, Missing, Refused, Silent, Closes, Resets, Blackhole, Stalls };

class TestNetwork {
public:
    // Creates the namespace, the fixtures and the servers. Check Error() afterwards.
    explicit TestNetwork(std::string serverProgram);
    ~TestNetwork();
    TestNetwork(const TestNetwork &) = delete;
    TestNetwork &operator=(const TestNetwork &) = delete;

    const std::string &Error() const { return m_error; }
    const std::string &Dir() const { return m_dir; }

    // Rewrites the namespace's hosts file with IANA's name pointing as ENTRY says.
    bool WriteHosts(IanaEntry entry);
    // Runs ARGUMENTS inside the namespace with QUOKKA_WHOIS_DIR set; returns its exit status.
    int RunInside(const std::vector<std::string> &arguments) const;

private:
    bool Setup(const std::string &serverProgram);
    bool WriteFixtures();
    bool StartServer(const std::string &serverProgram, const TestServer &server);

    std::string m_name;
    std::string m_dir;
    std::string m_error;
    std::vector<pid_t> m_servers;
    bool m_namespaceMade = false;
};

// Removes namespaces of earlier runs whose process is gone (a run killed before cleaning up).
void RemoveStaleNamespaces();

} // namespace whoistest

namespace quokka::whois { class CWhoisLookup; }
class QString;

namespace whoistest {

// Runs the WHOIS client for QUERY within LIMITS and lists its answer, and why it was cut
// short, in WINDOW as a run lists them.
void LookupAndShow(quokka::whois::CWhoisLookup &window, const QString &query, const quokka::whois::ExchangeLimits &limits = {});

} // namespace whoistest
