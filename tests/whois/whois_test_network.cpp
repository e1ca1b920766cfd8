#include "whois_test_network.h"

#include "test_support.h"
#include "whois/whois_client.h"
#include "whois/whois_lookup.h"
#include "whois/whois_text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace whoistest {

const std::vector<TestServer> kServers = {
    {"iana", "whois.iana.org", kIanaAddress, "iana", "iana"},
    {"ripe", "whois.ripe-like.test", "198.51.100.1", "answer", "ripe.txt"},
    {"arin", "whois.arin-like.test", "198.51.100.2", "answer", "arin.txt"},
    {"latin", "whois.latin.test", "198.51.100.3", "answer", "latin.txt"},
    {"silent", "whois.silent.test", "198.51.100.4", "silent", ""},
    {"big", "whois.big.test", "198.51.100.5", "big", "5242880"},
    {"closes", "whois.closes.test", "198.51.100.6", "close", ""},
    {"reset", "whois.reset.test", "198.51.100.7", "reset", "partial.txt"},
    {"nul", "whois.nul.test", "203.0.113.1", "answer", "nul.txt"},
    {"multi", "whois.multi.test", "198.51.100.10", "answer", "multi.txt"},
    {"stall", "whois.stall.test", "198.51.100.11", "stall", "stall.txt"},
    {"trickle", "whois.trickle.test", "198.51.100.12", "trickle", ""},
    {"ff", "whois.ff.test", "203.0.113.3", "answer", "ff.txt"},
    {"oneline", "whois.oneline.test", "198.51.100.13", "answer", "oneline.txt"},
    {"v6", "whois.v6only.test", "2001:db8::43", "answer", "v6.txt"}, // a server with no IPv4 address
};

namespace {

constexpr char kNamePrefix[] = "qqwhois-";
constexpr char kRefusedAddress[] = "198.51.100.8";
constexpr char kMultiFirstAddress[] = "198.51.100.9"; // listed before the answering address
constexpr char kBlackholeAddress[] = "203.0.113.2";

// IANA's answers by query, shaped like the real service's.
std::string IanaReferral(const std::string &referLine)
{
    return "% IANA WHOIS server\n% for more information on IANA, visit http://www.iana.org\n"
           "% This query returned 1 object\n\n"
           + referLine
           + "\ninetnum:      192.0.0.0 - 192.255.255.255\norganisation: Administered by a test registry\n"
             "status:       LEGACY\n\nwhois:        whois.example\n\nchanged:      1993-05\n"
             "source:       IANA\n\n";
}

// Every byte of a literal that holds NULs, without the closing one.
template <std::size_t N>
std::string Bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

struct Fixture {
    const char *path;
    std::string bytes;
};

std::vector<Fixture> Fixtures()
{
    return {
        {"iana/default", "% IANA WHOIS server\n% This query returned 0 objects.\n"},
        {"iana/192.0.2.1", IanaReferral("refer:        whois.ripe-like.test")},
        {"iana/192.0.2.2",
         "% IANA WHOIS server\r\n% for more information on IANA, visit http://www.iana.org\r\n\r\n"
         "refer:        whois.arin-like.test\r\n\r\ninetnum:      192.0.0.0 - 192.255.255.255\r\n"},
        {"iana/192.0.2.3", IanaReferral("refer:\t \twhois.latin.test")},
        {"iana/192.0.2.4", IanaReferral("refer:        whois.silent.test")},
        {"iana/192.0.2.5", IanaReferral("refer:        whois.big.test")},
        {"iana/192.0.2.6", IanaReferral("refer:        whois.closes.test")},
        {"iana/192.0.2.7", IanaReferral("refer:        whois.reset.test")},
        {"iana/192.0.2.8", IanaReferral("refer:        whois.refused.test")},
        {"iana/192.0.2.9", IanaReferral("refer:        whois.nowhere.test")},
        {"iana/192.0.2.10", "% IANA WHOIS server\n\ninetnum:      192.0.0.0 - 192.255.255.255\nsource: IANA\n"},
        {"iana/192.0.2.11", "% IANA WHOIS server\n\nrefer:        whois.ripe-like.test"},
        {"iana/192.0.2.12",
         "% IANA WHOIS server\nRefer: whois.big.test\nremarks: xrefer:whois.nul.test\n"
         "refer:        whois.ripe-like.test\n"},
        {"iana/192.0.2.13", IanaReferral("refer:        whois.multi.test")},
        {"iana/192.0.2.14", IanaReferral("refer:        whois.blackhole.test")},
        {"iana/192.0.2.15", IanaReferral("refer:        whois.stall.test")},
        {"iana/192.0.2.16", IanaReferral("refer:        whois.trickle.test")},
        {"iana/192.0.2.17", IanaReferral("refer:        whois.ff.test")},
        {"iana/192.0.2.18", IanaReferral("refer:        whois.iana.org")},
        {"iana/192.0.2.19", IanaReferral(std::string("refer:        ") + kIanaAddress)},
        {"iana/192.0.2.20", IanaReferral("refer:        " + std::string(2000, 'w') + ".test")},
        {"iana/192.0.2.21", "% IANA \xFF\xFE\xFF server\n\xFF\xFF\xFF\xFF\nrefer: whois.ripe-like.test\n\xFF\n"},
        {"iana/192.0.2.22", IanaReferral("refer:        \xFF\xFE.test")},
        {"iana/192.0.2.23", IanaReferral("refer:        whois.oneline.test")},
        {"iana/2001:db8::1", IanaReferral("refer:        whois.v6only.test")},
        {"ripe.txt",
         "% This is the RIPE-like Database query service.\n% The objects are in RPSL format.\n%\n"
         "% Note: this output has been filtered.\n\n% Information related to '192.0.2.0 - 192.0.2.255'\n\n"
         "% Abuse contact for '192.0.2.0 - 192.0.2.255' is 'abuse@example.net'\n\n"
         "inetnum:        192.0.2.0 - 192.0.2.255\nnetname:        EXAMPLE-NET\n"
         "descr:          Z\xC3\xBCrich Example Networks\ncountry:        CH\nadmin-c:        JM1-TEST\n"
         "status:         ASSIGNED PA\nmnt-by:         EXAMPLE-MNT\n\n"
         "person:         J\xC3\xBCrg M\xC3\xBCller\naddress:        Bahnhofstrasse 1, 8001 Z\xC3\xBCrich\n"
         "phone:          +41 44 000 00 00\nfax-no:         +41 44 000 00 01\n"
         "e-mail:         jm@example.net\nnic-hdl:        JM1-TEST\n\n"
         "% This query was served by the RIPE-like Database Query Service version 1.0 (TEST)\n\n\n"},
        {"arin.txt",
         "\r\n#\r\n# ARIN-like WHOIS data and services are subject to the Terms of Use\r\n"
         "# available at: https://www.example.net/whois/tou/\r\n#\r\n"
         "# If you see inaccuracies in the results, please report at\r\n"
         "# https://www.example.net/whois/inaccuracy/\r\n#\r\n# Copyright 1997-2024, Example Registry.\r\n#\r\n"
         "\r\n\r\nNetRange:       192.0.2.0 - 192.0.2.255\r\nCIDR:           192.0.2.0/24\r\n"
         "NetName:        TEST-NET-1\r\nOrganization:   Example Org (EO-1)\r\n\r\n"
         "OrgAbuseHandle: ABUSE1-TEST\r\nOrgAbuseName:   Abuse Team\r\nOrgAbusePhone:  +1-555-0100\r\n"
         "OrgAbuseEmail:  abuse@example.net\r\n\r\nOrgTechEmail:   noc@example.net\r\n\r\n"
         "#\r\n# ARIN-like WHOIS data and services are subject to the Terms of Use\r\n#\r\n\r\n"},
        {"latin.txt",
         "% Latin-1 registry\n\nperson:   J\xFCrg M\xFCller\naddress:  Z\xFCrich \xA7 1\n"
         "e-mail:   jm@example.net\n"},
        {"nul.txt", Bytes("netname: BEFORE-NUL\nremarks: cut here\0hidden: after the NUL\n")},
        {"partial.txt", "% partial answer\nrefer: whois.ripe-like.test\ninetnum: 192.0.2.0 - 192.0.2.255\n"},
        {"multi.txt", "netname: MULTI-LAST\n"},
        {"v6.txt", "inet6num: 2001:db8::/32\nnetname: V6-ONLY\n"},
        // Sent before the server stalls: referral, record, and a last line without its line feed.
        {"stall.txt", "% stalled answer\nrefer: whois.ripe-like.test\nnetname: STALL-NET\nremarks: cut off mid-li"},
        {"oneline.txt", "remarks: " + std::string(3 << 20, 'x')}, // 3 MiB without a line feed
        {"ff.txt", Bytes("netname: FF-NET\nremarks: \xFF\xFF\xFF end\n\xFE\xFF\xFF\xFE\nabuse-mailbox: \xFF@example.net\n"
                         "\0\xFF hidden after the NUL\n")},
    };
}

bool WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return bool(out);
}

bool Shell(const std::string &command, std::string *error)
{
    std::string output;
    if (testsupport::Run(command + " 2>&1", &output) == 0)
        return true;
    *error = command + ": " + output;
    return false;
}

} // namespace

TestNetwork::TestNetwork(std::string serverProgram)
    : m_name(kNamePrefix + std::to_string(::getpid())), m_dir("/tmp/" + m_name)
{
    Setup(serverProgram);
}

bool TestNetwork::Setup(const std::string &serverProgram)
{
    RemoveStaleNamespaces();
    if (!Shell("ip netns add " + m_name, &m_error))
        return false;
    m_namespaceMade = true;
    std::string commands = "ip -n " + m_name + " link set lo up";
    for (const char *address : {kIanaAddress, kRefusedAddress, kMultiFirstAddress, kBlackholeAddress})
        commands += " && ip -n " + m_name + " addr add " + address + "/32 dev lo";
    for (const TestServer &server : kServers) {
        if (std::strcmp(server.address, kIanaAddress) != 0)
            commands += " && ip -n " + m_name + " addr add " + server.address
                + (std::strchr(server.address, ':') ? "/128 dev lo nodad" : "/32 dev lo");
    }
    // Packets to the black hole vanish, so a connection there can only time out.
    commands += " && ip netns exec " + m_name + " nft add table ip qq && ip netns exec " + m_name
        + " nft add chain ip qq out '{ type filter hook output priority 0; }' && ip netns exec " + m_name
        + " nft add rule ip qq out ip daddr " + kBlackholeAddress + " tcp dport 43 drop";
    commands += " && mkdir -p /etc/netns/" + m_name + " " + m_dir + "/iana";
    if (!Shell(commands, &m_error) || !WriteFixtures() || !WriteHosts(IanaEntry::Server))
        return false;
    for (const TestServer &server : kServers) {
        if (!StartServer(serverProgram, server))
            return false;
    }
    return true;
}

bool TestNetwork::WriteFixtures()
{
    for (const Fixture &fixture : Fixtures()) {
        if (!WriteFile(m_dir + "/" + fixture.path, fixture.bytes)) {
            m_error = "cannot write " + m_dir + "/" + fixture.path;
            return false;
        }
    }
    return true;
}

bool TestNetwork::WriteHosts(IanaEntry entry)
{
    std::string hosts = "127.0.0.1 localhost\n";
    const char *ianaAddress = nullptr;
    switch (entry) {
    case IanaEntry::Server: ianaAddress = kIanaAddress; break;
    case IanaEntry::Missing: break;
    case IanaEntry::Refused: ianaAddress = kRefusedAddress; break;
    case IanaEntry::Silent: ianaAddress = "198.51.100.4"; break;
    case IanaEntry::Closes: ianaAddress = "198.51.100.6"; break;
    case IanaEntry::Resets: ianaAddress = "198.51.100.7"; break;
    case IanaEntry::Blackhole: ianaAddress = kBlackholeAddress; break;
    case IanaEntry::Stalls: ianaAddress = "198.51.100.11"; break;
    }
    if (ianaAddress)
        hosts += std::string(ianaAddress) + " whois.iana.org\n";
    hosts += std::string(kRefusedAddress) + " " + kRefusedHost + "\n";
    hosts += std::string(kBlackholeAddress) + " " + kBlackholeHost + "\n";
    hosts += std::string(kMultiFirstAddress) + " whois.multi.test\n";
    // The resolver's order: address sorting would put the loopback address first.
    hosts += "198.51.100.10 whois.order.test\n127.0.0.5 whois.order.test\n2001:db8::5 whois.order.test\n";
    for (const TestServer &server : kServers) {
        if (std::strcmp(server.address, kIanaAddress) != 0)
            hosts += std::string(server.address) + " " + server.host + "\n";
    }
    // Names missing from the hosts file go to a resolver on the namespace's own loopback, so a
    // lookup never leaves the namespace.
    if (!WriteFile("/etc/netns/" + m_name + "/hosts", hosts)
        || !WriteFile("/etc/netns/" + m_name + "/resolv.conf", "nameserver 127.0.0.1\n")) {
        m_error = "cannot write the namespace's hosts file";
        return false;
    }
    return true;
}

bool TestNetwork::StartServer(const std::string &serverProgram, const TestServer &server)
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return false;
    const std::string record = m_dir + "/record-" + server.label;
    std::string argument = server.argument;
    if (!argument.empty() && std::string(server.mode) != "big")
        argument = m_dir + "/" + argument;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ready[1], STDOUT_FILENO);
        ::execlp("ip", "ip", "netns", "exec", m_name.c_str(), serverProgram.c_str(), server.address,
                 record.c_str(), server.mode, argument.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(ready[1]);
    if (pid > 0)
        m_servers.push_back(pid);
    pollfd watched{ready[0], POLLIN, 0};
    char byte = 0;
    const bool up = pid > 0 && ::poll(&watched, 1, 10'000) == 1 && ::read(ready[0], &byte, 1) == 1 && byte == 'R';
    ::close(ready[0]);
    if (!up)
        m_error = std::string("the test server for ") + server.host + " did not start";
    return up;
}

int TestNetwork::RunInside(const std::vector<std::string> &arguments) const
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QUOKKA_WHOIS_DIR", m_dir.c_str(), 1);
        std::vector<const char *> argv{"ip", "netns", "exec", m_name.c_str()};
        for (const std::string &argument : arguments)
            argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        ::execvp("ip", const_cast<char *const *>(argv.data()));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TestNetwork::~TestNetwork()
{
    for (const pid_t pid : m_servers) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    std::string ignored;
    if (m_namespaceMade)
        Shell("ip netns del " + m_name, &ignored);
    Shell("rm -rf /etc/netns/" + m_name + " " + m_dir, &ignored);
}

void RemoveStaleNamespaces()
{
    DIR *netns = ::opendir("/run/netns");
    if (!netns)
        return;
    std::vector<std::string> stale;
    while (const dirent *entry = ::readdir(netns)) {
        const std::string name = entry->d_name;
        if (name.rfind(kNamePrefix, 0) != 0)
            continue;
        const std::string pid = name.substr(sizeof kNamePrefix - 1);
        struct stat info;
        if (::stat(("/proc/" + pid).c_str(), &info) != 0)
            stale.push_back(name);
    }
    ::closedir(netns);
    std::string ignored;
    for (const std::string &name : stale)
        Shell("ip netns del " + name + "; rm -rf /etc/netns/" + name + " /tmp/" + name, &ignored);
}

} // namespace whoistest

void whoistest::LookupAndShow(quokka::whois::CWhoisLookup &window, const QString &query, const quokka::whois::ExchangeLimits &limits)
{
    quokka::whois::CWhois client(query, {}, limits);
    const QString answer = client.GetData();
    window.ShowAnswer(quokka::whois::AnswerLines(answer, client.CutShortNote()));
}
