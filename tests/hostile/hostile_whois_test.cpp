// WHOIS servers that misbehave: a stall in the middle of an answer, an answer that drips
// without end, 5 MiB, NUL and 0xFF bytes, referrals to IANA itself or to names that do not
// resolve, and an IANA that never answers or stalls. Each runs through the real client and the
// real result window against servers of the test's own in a network namespace; each must end
// within its limit and keep every byte that arrived before it.
#include "test_support.h"
#include "whois/whois_client.h"
#include "whois/whois_lookup.h"
#include "whois_test_network.h"
#include "whois/whois_text.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

using quokka::whois::CWhoisLookup;

// Failures show texts as text.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace quokka::whois;
using namespace std::chrono_literals;

// The last lines of answers cut short with the client's own limits.
const QString kCutBySilence = QStringLiteral("(The answer is cut short: nothing more arrived for 1 second.)");
const QString kCutBySize = QStringLiteral("(The answer is cut short: it is longer than 1 MiB.)");

// A phase that has not ended by then has hung: the alarm ends it and the phase fails.
constexpr unsigned kPhaseSeconds = 120;

QString Dir()
{
    return qEnvironmentVariable("QUOKKA_WHOIS_DIR");
}

QByteArray ReadBytes(const QString &name)
{
    QFile file(Dir() + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray Record(const char *label)
{
    QFile file(Dir() + "/record-" + label);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ClearRecords()
{
    for (const whoistest::TestServer &server : whoistest::kServers)
        QFile::remove(Dir() + "/record-" + server.label);
}

ExchangeLimits Limits(std::chrono::milliseconds silence, std::chrono::milliseconds total = 60s)
{
    ExchangeLimits limits;
    limits.connect = 1s;
    limits.silence = silence;
    limits.total = total;
    return limits;
}

QStringList Listed(const QString &answer)
{
    return quokka::whois::AnswerLines(answer);
}

// One lookup within LIMITS listed in a real window, timed.
struct WindowLookup {
    QStringList lines;
    QStringList announced;
    qint64 elapsedMs = 0;
};

WindowLookup LookupInWindow(const QString &query, const quokka::whois::ExchangeLimits &limits = {})
{
    WindowLookup result;
    CWhoisLookup window;
    window.show();
    QObject::connect(&window, &CWhoisLookup::LineAdded, [&result](const QString &line) { result.announced << line; });
    QElapsedTimer clock;
    clock.start();
    whoistest::LookupAndShow(window, query, limits);
    result.elapsedMs = clock.elapsed();
    result.lines = window.Lines();
    EXPECT_FALSE(window.grab().isNull()); // the rows paint, whatever their characters
    return result;
}

// The text lines the "big" server sends, cut where the client stops keeping them.
QString BigAnswerPrefix(qsizetype bytes)
{
    QString answer;
    for (int line = 0; answer.size() < bytes; ++line)
        answer += QStringLiteral("remarks: line %1 of a very long answer\n").arg(line);
    return answer.left(bytes);
}

TEST(HostileWhois, AStallMidAnswerKeepsEverythingThatCameUpToTheUnfinishedLine)
{
    const QByteArray sent = ReadBytes("stall.txt");
    QElapsedTimer clock;
    clock.start();
    CWhois whois("192.0.2.15", {}, Limits(1s));
    EXPECT_EQ(whois.GetData(), QString::fromLatin1(sent));
    EXPECT_EQ(whois.CutShortNote(), kCutBySilence);
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_LT(clock.elapsed(), 8'000);

    // In the window, with a last line that says why the answer ended.
    const WindowLookup window = LookupInWindow("192.0.2.15", Limits(1s));
    EXPECT_EQ(window.lines, Listed(QString::fromLatin1(sent)) << kCutBySilence);
    ASSERT_GE(window.lines.size(), 2);
    EXPECT_EQ(window.lines[window.lines.size() - 2], "remarks: cut off mid-li");
    EXPECT_EQ(window.announced, window.lines);
}

TEST(HostileWhois, AnAnswerThatNeverEndsIsCutAtTheExchangeLimitWithItsLinesIntact)
{
    QElapsedTimer clock;
    clock.start();
    CWhois whois("192.0.2.16", {}, Limits(1s, 1500ms));
    const QString answer = whois.GetData();
    EXPECT_EQ(whois.CutShortNote(), "(The answer is cut short: the exchange took longer than 1500 ms.)");
    EXPECT_GE(clock.elapsed(), 1'400);
    EXPECT_LT(clock.elapsed(), 8'000);
    const QStringList lines = answer.split(u'\n');
    ASSERT_GE(lines.size(), 5) << answer.toStdString();
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) // the last piece may be cut mid-line
        EXPECT_EQ(lines[i], QStringLiteral("remarks: drip %1").arg(i));
}

TEST(HostileWhois, FiveMebibytesListAsTheirFirstMebibyteInTheWindow)
{
    const WindowLookup window = LookupInWindow("192.0.2.5");
    const QStringList expected = Listed(BigAnswerPrefix(1 << 20)) << kCutBySize;
    EXPECT_EQ(window.lines.size(), expected.size());
    EXPECT_TRUE(window.lines == expected);
    EXPECT_EQ(window.announced.size(), expected.size());
    EXPECT_LT(window.elapsedMs, 20'000);
}

TEST(HostileWhois, OneLineOfAMebibyteListsAndPaintsWithoutFreezingTheWindow)
{
    QElapsedTimer clock;
    clock.start();
    CWhoisLookup window;
    window.show();
    whoistest::LookupAndShow(window, "192.0.2.23");
    ASSERT_EQ(window.Lines().size(), 2);
    EXPECT_EQ(window.Lines().back(), kCutBySize);
    EXPECT_EQ(window.Lines().front().size(), 1 << 20);
    EXPECT_TRUE(window.Lines().front().startsWith("remarks: xxx"));
    for (int i = 0; i < 5; ++i) // each paint lays out the whole line: slow, but it ends
        EXPECT_FALSE(window.grab().isNull());
    EXPECT_LT(clock.elapsed(), 15'000);
}

TEST(HostileWhois, NulAndFfBytesListByteForByteUpToTheNul)
{
    const QByteArray sent = ReadBytes("ff.txt");
    const QString expected = QString::fromLatin1(sent.left(sent.indexOf('\0')));
    EXPECT_TRUE(expected.contains(QString::fromUtf16(u"\u00FF\u00FF\u00FF end")));
    CWhois whois("192.0.2.17");
    EXPECT_EQ(whois.GetData(), expected);
    EXPECT_EQ(whois.CutShortNote(), "") << "the server closed: the answer is whole";

    const WindowLookup window = LookupInWindow("192.0.2.17");
    EXPECT_EQ(window.lines, Listed(expected));
    ASSERT_EQ(window.lines.size(), 4);
    EXPECT_EQ(window.lines[2], QString::fromUtf16(u"\u00FE\u00FF\u00FF\u00FE"));
    EXPECT_TRUE(quokka::whois::IsContactLine(window.lines[3])) << window.lines[3].toStdString();

    // 0xFF bytes around IANA's referral do not hide it.
    ClearRecords();
    CWhois throughFf("192.0.2.21");
    EXPECT_EQ(throughFf.GetData(), QString::fromUtf8(ReadBytes("ripe.txt")));
    EXPECT_EQ(Record("ripe"), QByteArray("192.0.2.21\n"));
}

TEST(HostileWhois, AReferralToIanaItselfAsksIanaOnceMoreAndEnds)
{
    for (const char *query : {"192.0.2.18", "192.0.2.19"}) { // by name, by address
        SCOPED_TRACE(query);
        ClearRecords();
        const QString ianaAnswer = QString::fromLatin1(ReadBytes(QStringLiteral("iana/") + query));
        QElapsedTimer clock;
        clock.start();
        CWhois whois(query);
        EXPECT_EQ(whois.GetData(), ianaAnswer);
        EXPECT_EQ(Record("iana"), QByteArray(query) + '\n' + query + '\n');
        EXPECT_LT(clock.elapsed(), 5'000);

        const WindowLookup window = LookupInWindow(query);
        EXPECT_EQ(window.lines, Listed(ianaAnswer));
        EXPECT_LT(window.elapsedMs, 5'000);
    }
}

TEST(HostileWhois, ReferralsThatDoNotResolveListTheErrorText)
{
    const struct {
        const char *query;
        const char *why;
    } cases[] = {
        {"192.0.2.9", "a name no one knows"},
        {"192.0.2.20", "a name of 2000 characters"},
        {"192.0.2.22", "a name of 0xFF and 0xFE bytes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        const WindowLookup window = LookupInWindow(c.query);
        EXPECT_EQ(window.lines, QStringList{CWhois::DataErrorText()});
        EXPECT_LT(window.elapsedMs, 5'000);
    }
}

// IANA's name points at an address where connections are never answered.
TEST(HostileWhoisIanaBlackhole, TheWindowListsTheErrorTextAfterTheConnectLimit)
{
    ClearRecords();
    const WindowLookup window = LookupInWindow("192.0.2.1", Limits(1s));
    EXPECT_EQ(window.lines, QStringList{CWhois::DataErrorText()});
    EXPECT_GE(window.elapsedMs, 950);
    EXPECT_LT(window.elapsedMs, 8'000);
    EXPECT_EQ(Record("ripe"), QByteArray());
}

// IANA's name points at the server that stalls after the referral line.
TEST(HostileWhoisIanaStalls, TheReferralThatCameBeforeTheStallIsFollowed)
{
    ClearRecords();
    QElapsedTimer clock;
    clock.start();
    CWhois whois("192.0.2.1", {}, Limits(1s));
    EXPECT_EQ(whois.GetData(), QString::fromUtf8(ReadBytes("ripe.txt")));
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_LT(clock.elapsed(), 8'000);
    EXPECT_EQ(Record("stall"), QByteArray("192.0.2.1\n"));
    EXPECT_EQ(Record("ripe"), QByteArray("192.0.2.1\n"));
}

std::string SelfPath()
{
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string();
}

int RunOutside()
{
    if (!testsupport::IsRoot()) {
        std::puts("SKIPPED: hostile WHOIS tests need root to create a network namespace");
        return 77;
    }
    whoistest::TestNetwork network(WHOIS_TEST_SERVER);
    if (!network.Error().empty()) {
        std::fprintf(stderr, "test network: %s\n", network.Error().c_str());
        return 1;
    }
    const struct {
        whoistest::IanaEntry entry;
        const char *filter;
    } phases[] = {
        {whoistest::IanaEntry::Server, "HostileWhois.*"},
        {whoistest::IanaEntry::Blackhole, "HostileWhoisIanaBlackhole.*"},
        {whoistest::IanaEntry::Stalls, "HostileWhoisIanaStalls.*"},
    };
    int failed = 0;
    for (const auto &phase : phases) {
        if (!network.WriteHosts(phase.entry)
            || network.RunInside({SelfPath(), std::string("--gtest_filter=") + phase.filter}) != 0)
            ++failed;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (Dir().isEmpty())
        return RunOutside();
    ::alarm(kPhaseSeconds);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
