// Real WHOIS exchanges on port 43 with the tests' own servers in a network namespace. The
// program makes the namespace and its servers, then runs itself inside it once per way that
// IANA's name can resolve; with --bench it times lookups against Debian's whois client.
#include "test_support.h"
#include "base/wait.h"
#include "base/worker.h"
#include "whois/whois_client.h"
#include "whois/whois_lookup.h"
#include "whois_test_network.h"
#include "whois/whois_text.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

int RunBenchmark(); // whois_bench.cpp

// Failures show texts as text.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace quokka::whois;
using namespace std::chrono_literals;

QString Dir()
{
    return qEnvironmentVariable("QUOKKA_WHOIS_DIR");
}

QByteArray ReadBytes(const QString &name)
{
    QFile file(Dir() + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void ClearRecords()
{
    for (const whoistest::TestServer &server : whoistest::kServers)
        QFile::remove(Dir() + "/record-" + server.label);
}

QByteArray Record(const char *label)
{
    QFile file(Dir() + "/record-" + label);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Fetch(const QString &query, ExchangeLimits limits = {})
{
    CWhois whois(query, {}, limits);
    return whois.GetData();
}

ExchangeLimits ShortLimits()
{
    ExchangeLimits limits;
    limits.connect = 1s;
    limits.silence = 1s;
    return limits;
}

// What Debian's whois client prints for QUERY asked of HOST, as bytes.
QByteArray DebianWhois(const char *host, const char *query)
{
    std::string output;
    testsupport::Run(std::string("whois -h ") + host + " -p 43 " + query, &output);
    return QByteArray::fromStdString(output);
}

QStringList ListedLines(const QByteArray &bytes)
{
    return quokka::whois::AnswerLines(quokka::whois::DecodeAnswer(bytes));
}

TEST(WhoisExchange, QueryGoesToIanaThenToTheReferredServerUnchanged)
{
    ClearRecords();
    const QString answer = Fetch("192.0.2.1");
    EXPECT_EQ(Record("iana"), QByteArray("192.0.2.1\n"));
    EXPECT_EQ(Record("ripe"), QByteArray("192.0.2.1\n"));
    EXPECT_EQ(answer, QString::fromUtf8(ReadBytes("ripe.txt")));
    EXPECT_TRUE(answer.contains(QString::fromUtf8("person:         J\u00FCrg M\u00FCller\n")));
}

TEST(WhoisExchange, ReferralsAreFoundAsTheRulesSay)
{
    const struct {
        const char *query;
        const char *why;
        QString expected;
    } cases[] = {
        {"192.0.2.2", "CR LF answer: the carriage return leaves the referral", quokka::whois::DecodeAnswer(ReadBytes("arin.txt"))},
        {"192.0.2.3", "blanks and tabs before the name; Latin-1 answer byte for byte",
         QString::fromLatin1(ReadBytes("latin.txt"))},
        {"192.0.2.12", "first lower-case key wins, inside a longer line; answer ends at NUL",
         "netname: BEFORE-NUL\nremarks: cut here"},
        {"192.0.2.13", "host with two addresses: the last one is asked", "netname: MULTI-LAST\n"},
        {"2001:db8::1", "IPv6 query, referred to a server reached over IPv6", "inet6num: 2001:db8::/32\nnetname: V6-ONLY\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Fetch(c.query), c.expected);
    }
    EXPECT_TRUE(Fetch("192.0.2.3").contains(QString::fromUtf16(u"J\u00FCrg M\u00FCller")));
    ClearRecords();
    Fetch("2001:db8::1");
    EXPECT_EQ(Record("v6"), QByteArray("2001:db8::1\n")); // the query as typed, over IPv6
}

TEST(WhoisExchange, EveryFailureRowGivesItsText)
{
    const struct {
        const char *query;
        const char *why;
        QString expected;
    } cases[] = {
        {"192.0.2.10", "IANA's answer has no refer line", CWhois::DataErrorText()},
        {"192.0.2.11", "no line feed after the refer line", CWhois::DataErrorText()},
        {"192.0.2.9", "the referral does not resolve", CWhois::DataErrorText()},
        {"192.0.2.8", "the referred server refuses the connection", ""},
        {"192.0.2.6", "the referred server closes at once", ""},
        {"192.0.2.7", "the referred server resets after some data", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Fetch(c.query), c.expected);
    }
    EXPECT_EQ(CWhois::DataErrorText(), "CWhois::GetData Error Cannot Find whois.iana.org IP Address ");
}

TEST(WhoisExchange, QueriesThatAreNotOneShortLineSendNothing)
{
    ClearRecords();
    const QString tooLong(99, u'1');
    EXPECT_EQ(Fetch(tooLong), CWhois::QueryErrorText());
    EXPECT_EQ(Fetch("192.0.2.1\nsecond query"), CWhois::QueryErrorText());
    EXPECT_EQ(Fetch(QString::fromUtf16(u"\u0100")), CWhois::QueryErrorText());
    EXPECT_EQ(Record("iana"), QByteArray());
    // The longest query that fits still goes out.
    const QString longest(98, u'1');
    Fetch(longest);
    EXPECT_EQ(Record("iana"), longest.toLatin1() + '\n');
}

TEST(WhoisExchange, NamesResolveToTheLastAddressOrToNothing)
{
    const struct {
        QString name;
        QString expected;
    } cases[] = {
        {"whois.multi.test", "198.51.100.10"},
        {"whois.order.test", "127.0.0.5"}, // its IPv6 address too: IPv4 goes first
        {"whois.v6only.test", "2001:db8::43"},
        {"whois.iana.org", whoistest::kIanaAddress},
        {"whois.nowhere.test", ""},
        {"whois.ripe-like.test\r", ""},
        {"", ""},
        {QString(1024, u'a'), ""},
    };
    for (const auto &c : cases) {
        QString name = c.name;
        GetIPAddress(name);
        EXPECT_EQ(name, c.expected) << c.name.toStdString();
    }
}

TEST(WhoisExchange, LongAnswersStopAtOneMebibyte)
{
    const QString answer = Fetch("192.0.2.5");
    EXPECT_EQ(answer.size(), 1 << 20);
    EXPECT_TRUE(answer.startsWith("remarks: line 0 of a very long answer\nremarks: line 1 "));
}

TEST(WhoisExchange, SilenceAndUnansweredConnectsEndTheExchange)
{
    for (const char *query : {"192.0.2.4", "192.0.2.14"}) { // silent server, black hole
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(Fetch(query, ShortLimits()), "") << query;
        EXPECT_GE(clock.elapsed(), 950) << query;
        EXPECT_LT(clock.elapsed(), 10'000) << query;
    }
}

TEST(WhoisExchange, AStopRequestEndsAWaitingExchangeAtOnce)
{
    std::stop_source stop;
    CWhois whois("192.0.2.4", stop.get_token()); // the referred server never answers
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(300ms);
        stop.request_stop();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(whois.GetData(), "");
    stopper.join();
    EXPECT_LT(clock.elapsed(), 1500); // 300 ms until the request, then one 50 ms slice
}

TEST(WhoisWindowExchange, ListsWhatDebiansClientPrintsCleaned)
{
    const struct {
        const char *query;
        const char *host;
    } cases[] = {
        {"192.0.2.1", "whois.ripe-like.test"},
        {"192.0.2.2", "whois.arin-like.test"},
        {"192.0.2.3", "whois.latin.test"},
        {"192.0.2.12", "whois.nul.test"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host);
        CWhoisLookup window;
        window.show();
        QStringList announced;
        QObject::connect(&window, &CWhoisLookup::LineAdded, [&announced](const QString &line) { announced << line; });
        whoistest::LookupAndShow(window, c.query);
        const QStringList expected = ListedLines(DebianWhois(c.host, "192.0.2.1"));
        EXPECT_GT(expected.size(), 0);
        EXPECT_EQ(window.Lines(), expected);
        EXPECT_EQ(announced, expected);
    }
}

TEST(WhoisWindowExchange, ContactLinesOfARealAnswerAreRed)
{
    CWhoisLookup window;
    whoistest::LookupAndShow(window, "192.0.2.2");
    QStringList red;
    for (const QString &line : window.Lines()) {
        if (quokka::whois::IsContactLine(line))
            red << line.section(u':', 0, 0);
    }
    EXPECT_EQ(red, (QStringList{"OrgAbuseHandle", "OrgAbuseName", "OrgAbusePhone", "OrgAbuseEmail", "OrgTechEmail"}));
    ASSERT_GE(window.Lines().size(), 2);
    EXPECT_EQ(window.Lines().at(0), "");
    EXPECT_EQ(window.Lines().at(1), " ARIN-like WHOIS data and services are subject to the Terms of Use");
}

// Nothing came from a silent server: only the line that says why the answer ended is listed.
TEST(WhoisWindowExchange, ASilentServerListsOnlyWhyTheAnswerEnded)
{
    ExchangeLimits limits;
    limits.silence = 2s;
    CWhoisLookup window;
    whoistest::LookupAndShow(window, "192.0.2.4", limits);
    EXPECT_EQ(window.Lines(), QStringList{"(The answer is cut short: nothing more arrived for 2 seconds.)"});
}

int OpenSockets()
{
    int sockets = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        sockets += fd.symLinkTarget().contains(QLatin1String("socket:"));
    return sockets;
}

// Closing the program ends a lookup that waits on a silent server within half a second, on
// the worker a run gives it: its connection is closed, and no answer is handed over. Runs in
// a process of its own, since closing cannot be undone.
TEST(WhoisShutdown, ClosingEndsALookupAtOnce)
{
    QObject receiver;
    quokka::Worker worker(&receiver);
    const int socketsBefore = OpenSockets();
    bool handedOver = false;
    worker.Run<WhoisAnswer>([](std::stop_token stop) { return LookupWhois("192.0.2.4", stop); },
                            [&handedOver](WhoisAnswer) { handedOver = true; });
    // On a busy machine the worker's thread may take a while to connect.
    EXPECT_TRUE(QTest::qWaitFor([&] { return OpenSockets() > socketsBefore; }, 5'000)) << "the lookup is under way";
    QElapsedTimer clock;
    clock.start();
    quokka::BeginShutdown();
    while (OpenSockets() > socketsBefore && clock.elapsed() < 5'000)
        QTest::qWait(10);
    EXPECT_LT(clock.elapsed(), 500) << "the exchange went on after closing began";
    QTest::qWait(300);
    EXPECT_FALSE(handedOver) << "nothing is handed over once closing has begun";
}

// IANA's name points nowhere or at a server that fails: the client's error text is listed.
void ExpectIanaStepFails(ExchangeLimits limits = {})
{
    ClearRecords();
    EXPECT_EQ(Fetch("192.0.2.1", limits), CWhois::DataErrorText());
    EXPECT_EQ(Record("ripe"), QByteArray());
}

TEST(WhoisIanaMissing, ErrorTextIsListed)
{
    ExpectIanaStepFails();
    CWhois whois("192.0.2.1");
    EXPECT_EQ(whois.GetIANAData(), "CWhois::GetIANAData Error Cannot Find whois.iana.org IP Address ");
    CWhoisLookup window;
    whoistest::LookupAndShow(window, "192.0.2.1");
    EXPECT_EQ(window.Lines(), QStringList{CWhois::DataErrorText()});
}

TEST(WhoisIanaRefused, ErrorText)
{
    ExpectIanaStepFails();
}

TEST(WhoisIanaSilent, ErrorTextAfterTheSilence)
{
    ExpectIanaStepFails(ShortLimits());
    EXPECT_EQ(Record("silent"), QByteArray("192.0.2.1\n"));
}

TEST(WhoisIanaCloses, ErrorText)
{
    ExpectIanaStepFails();
}

TEST(WhoisIanaResets, PartialAnswerStillRefers)
{
    ClearRecords();
    EXPECT_EQ(Fetch("192.0.2.1"), QString::fromUtf8(ReadBytes("ripe.txt")));
    EXPECT_EQ(Record("ripe"), QByteArray("192.0.2.1\n"));
}

std::string SelfPath()
{
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string();
}

int RunOutside(bool bench)
{
    if (!testsupport::IsRoot()) {
        std::puts("SKIPPED: WHOIS exchange tests need root to create a network namespace");
        return 77;
    }
    whoistest::TestNetwork network(WHOIS_TEST_SERVER);
    if (!network.Error().empty()) {
        std::fprintf(stderr, "test network: %s\n", network.Error().c_str());
        return 1;
    }
    if (bench)
        return network.RunInside({SelfPath(), "--bench"});
    const struct {
        whoistest::IanaEntry entry;
        const char *filter;
    } phases[] = {
        {whoistest::IanaEntry::Server, "WhoisExchange.*:WhoisWindowExchange.*"},
        {whoistest::IanaEntry::Server, "WhoisShutdown.*"},
        {whoistest::IanaEntry::Missing, "WhoisIanaMissing.*"},
        {whoistest::IanaEntry::Refused, "WhoisIanaRefused.*"},
        {whoistest::IanaEntry::Silent, "WhoisIanaSilent.*"},
        {whoistest::IanaEntry::Closes, "WhoisIanaCloses.*"},
        {whoistest::IanaEntry::Resets, "WhoisIanaResets.*"},
    };
    int failed = 0;
    for (const auto &phase : phases) {
        if (!network.WriteHosts(phase.entry) || network.RunInside({SelfPath(), std::string("--gtest_filter=") + phase.filter}) != 0)
            ++failed;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const bool bench = argc > 1 && std::string(argv[1]) == "--bench";
    if (Dir().isEmpty())
        return RunOutside(bench);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (bench)
        return RunBenchmark();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
