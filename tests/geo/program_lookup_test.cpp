// `quokka-quokka --lookup` as a real process on real pipes, with table files of the test's own:
// addresses as arguments and as lines of standard input, the AS fields, standard input and
// output closed or broken, answers while the input is still open, and table files that cannot
// be used (one message on standard error, "no match" lines, a normal exit).
#include "small_table.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testgeo;

namespace {

// The program with pipes on its standard streams; ends it when the test forgets to.
class Child {
public:
    struct Ended {
        int status = -1; // exit status, -1 when it did not end by itself in time
        std::string out, err;
    };

    // Starts the program with ARGS; standard input or output closed when asked.
    Child(const std::vector<std::string> &args, bool closeIn = false, bool closeOut = false)
    {
        int in[2], out[2], err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
                ::close(fd);
            if (closeIn)
                ::close(0);
            if (closeOut)
                ::close(1);
            ::unsetenv("QUOKKA_GEO_TABLE");
            ::unsetenv("QUOKKA_AS_TABLE");
            std::vector<std::string> command{QUOKKA_PROGRAM};
            command.insert(command.end(), args.begin(), args.end());
            testsupport::ExecOrExit(command);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        m_in = in[1], m_out = out[0], m_err = err[0];
    }
    ~Child()
    {
        closeInput();
        if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int fd : {m_out, m_err})
            if (fd >= 0)
                ::close(fd);
    }

    bool write(std::string_view text) const
    {
        while (!text.empty()) {
            const ssize_t n = ::write(m_in, text.data(), text.size());
            if (n <= 0)
                return false;
            text.remove_prefix(std::size_t(n));
        }
        return true;
    }
    void closeInput()
    {
        if (m_in >= 0)
            ::close(m_in);
        m_in = -1;
    }
    void closeOutput()
    {
        ::close(m_out);
        m_out = -1;
    }

    // What standard output brings until a newline, within 10 seconds.
    std::optional<std::string> readLine()
    {
        std::string line;
        char c = 0;
        while (line.empty() || line.back() != '\n') {
            pollfd ready{m_out, POLLIN, 0};
            if (::poll(&ready, 1, 10000) != 1 || ::read(m_out, &c, 1) != 1)
                return std::nullopt;
            line += c;
        }
        return line;
    }

    // Closes the input and collects the rest of the output and the exit status, waiting at
    // most 20 seconds.
    Ended finish()
    {
        closeInput();
        Ended ended;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::vector<pollfd> open;
        for (const int fd : {m_out, m_err})
            if (fd >= 0)
                open.push_back({fd, POLLIN, 0});
        while (!open.empty() && std::chrono::steady_clock::now() < deadline) {
            if (::poll(open.data(), open.size(), 1000) <= 0)
                continue;
            for (auto it = open.begin(); it != open.end();) {
                char buffer[65536];
                const ssize_t n = it->revents ? ::read(it->fd, buffer, sizeof buffer) : -1;
                if (n > 0)
                    (it->fd == m_out ? ended.out : ended.err).append(buffer, std::size_t(n));
                it = n == 0 ? open.erase(it) : it + 1;
            }
        }
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return ended;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
};

class ProgramLookup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::signal(SIGPIPE, SIG_IGN); // a child that ends early must not end the test
        SmallTable table;
        table.row(Key(1, 0, 1, 0), Key(192, 0, 1, 255), At("GB", "United Kingdom of Great Britain and Northern Ireland", "England", "London", 51.50853, -0.12574))
            .row(Key(192, 0, 2, 0), Key(192, 0, 2, 255), At("CH", "Switzerland", "Zurich", "Zurich", 47.36667, 8.55))
            .noLocation(Key(192, 0, 3, 0), Key(223, 255, 255, 255))
            .terminate();
        s_geo = table.writeFile("lab.bin");
        s_as = WriteTempFile("as.bin", AsTable({{Key(192, 0, 2, 0), Key(192, 0, 2, 127), 64496, "Lab\tNetworks"},
                                                {Key(240, 0, 0, 0), Key(240, 0, 0, 255), 64511, "Reserved"}}));
    }
    static void TearDownTestSuite() { RemoveTempFiles(); }

    static std::vector<std::string> Args(const std::string &addresses)
    {
        std::vector<std::string> args{"--geo-table", s_geo, "--as-table", s_as, "--lookup"};
        for (std::size_t at = 0; at < addresses.size();) {
            const std::size_t space = std::min(addresses.find(' ', at), addresses.size());
            args.push_back(addresses.substr(at, space - at));
            at = space + 1;
        }
        return args;
    }

    static std::string s_geo, s_as;
};

std::string ProgramLookup::s_geo, ProgramLookup::s_as;

const std::string kZurich = "192.0.2.0-192.0.2.255\tCH\tSwitzerland\tZurich\tZurich\t47.36667\t8.55";
const std::string kLab = "\t64496\tLab\u2409Networks";
const std::string kLong(10000, 'x');   // longer than any address
const std::string kLonger(300000, 'y'); // longer than the program's buffer

} // namespace

TEST_F(ProgramLookup, AnswersArgumentsAndLinesOfStandardInput)
{
    const struct {
        const char *name;
        std::string addresses, input;
        bool closeIn;
        int status;
        std::string out, err;
    } rows[] = {
        {"arguments", "192.0.2.1 203.0.113.9 1.2.3.4 240.0.0.1 192.0.2.200", "", false, 0,
         "192.0.2.1\t" + kZurich + kLab + "\n"
         "203.0.113.9\t192.0.3.0-223.255.255.255\t-\t-\t-\t-\t0\t0\t\t\n"
         "1.2.3.4\t1.0.1.0-192.0.1.255\tGB\tUnited Kingdom of Great Britain \tEngland\tLondon\t51.50853\t-0.12574\t\t\n"
         "240.0.0.1\tno match\t64511\tReserved\n"
         "192.0.2.200\t" + kZurich + "\t\t\n", ""},
        {"good, bad and empty lines, CRLF, spaces, no final newline", "-",
         "192.0.2.1\r\n\nnot an address\n\t 192.0.2.2 \r\n01.2.3.4\n192.0.2.3", false, 0,
         "192.0.2.1\t" + kZurich + kLab + "\n\tno match\t\t\nnot an address\tno match\t\t\n"
         "192.0.2.2\t" + kZurich + kLab + "\n01.2.3.4\tno match\t\t\n192.0.2.3\t" + kZurich + kLab + "\n", ""},
        {"control characters, a NUL and a line too long are echoed visibly", "-",
         std::string("a\tb\x1b\n192.0.2.1") + '\0' + "x\n" + kLong + "\n" + kLonger + "\n192.0.2.4\n", false, 0,
         "a\u2409b\u241b\tno match\t\t\n192.0.2.1\u2400x\tno match\t\t\n" + kLong.substr(0, 4096)
             + "\tno match\t\t\n" + kLonger.substr(0, 4096) + "\tno match\t\t\n192.0.2.4\t" + kZurich + kLab + "\n", ""},
        {"arguments around the input, in order", "198.51.100.7 - 240.0.0.1", "192.0.2.1\n", false, 0,
         "198.51.100.7\t192.0.3.0-223.255.255.255\t-\t-\t-\t-\t0\t0\t\t\n192.0.2.1\t" + kZurich + kLab
             + "\n240.0.0.1\tno match\t64511\tReserved\n", ""},
        {"empty input", "-", "", false, 0, "", ""},
        {"closed input", "192.0.2.1 -", "", true, 1, "192.0.2.1\t" + kZurich + kLab + "\n",
         "quokka-quokka: --lookup -: standard input is closed\n"},
    };
    for (const auto &row : rows) {
        Child child(Args(row.addresses), row.closeIn);
        EXPECT_TRUE(row.closeIn || child.write(row.input)) << row.name;
        const Child::Ended ended = child.finish();
        EXPECT_EQ(ended.status, row.status) << row.name;
        EXPECT_EQ(ended.out, row.out) << row.name;
        EXPECT_EQ(ended.err, row.err) << row.name;
    }
}

TEST_F(ProgramLookup, AnswersEachLineWhileTheInputIsStillOpen)
{
    Child child(Args("-"));
    for (const char *address : {"192.0.2.1", "bad", "240.0.0.1"}) {
        ASSERT_TRUE(child.write(std::string(address) + '\n'));
        const std::optional<std::string> line = child.readLine();
        ASSERT_TRUE(line) << "no answer to " << address << " before the input ended";
        EXPECT_EQ(line->substr(0, line->find('\t')), address);
    }
    ASSERT_TRUE(child.write("192.0.2.9"));
    const Child::Ended ended = child.finish();
    EXPECT_EQ(ended.out, "192.0.2.9\t" + kZurich + kLab + "\n");
    EXPECT_EQ(ended.status, 0);
}

TEST_F(ProgramLookup, AClosedOrBrokenOutputEndsTheProgramQuietly)
{
    Child closed(Args("192.0.2.1 -"), false, true);
    closed.write("192.0.2.1\n");
    const Child::Ended closedEnd = closed.finish();
    EXPECT_EQ(closedEnd.status, 1);
    EXPECT_EQ(closedEnd.err, "");

    Child broken(Args("-"));
    broken.closeOutput();
    std::string lines;
    for (int i = 0; i < 100000; ++i)
        lines += "192.0.2.1\n";
    broken.write(lines); // fails part-way once the program has ended
    const Child::Ended brokenEnd = broken.finish();
    EXPECT_EQ(brokenEnd.status, 1);
    EXPECT_EQ(brokenEnd.err, "");
}

TEST_F(ProgramLookup, BrokenTableFilesGiveOneMessageAndNoMatch)
{
    std::vector<unsigned char> rows = SmallTable().row(Key(1, 0, 1, 0), Key(223, 255, 255, 255), At("FR", "France", "", "Paris", 48.85, 2.35)).terminate().bytes();
    rows.resize(rows.size() - 1);
    for (const std::string &table : {WriteTempFile("cut.bin", rows), WriteTempFile("empty.bin", {}),
                                     std::string("/nonexistent/table.bin")}) {
        Child child({"--geo-table", table, "--lookup", "192.0.2.1"});
        const Child::Ended ended = child.finish();
        EXPECT_EQ(ended.status, 0);
        EXPECT_EQ(ended.out, "192.0.2.1\tno match\t\t\n");
        EXPECT_NE(ended.err.find("geolocation table " + table + " not used"), std::string::npos) << ended.err;
        EXPECT_EQ(std::count(ended.err.begin(), ended.err.end(), '\n'), 1) << ended.err;
    }
}
