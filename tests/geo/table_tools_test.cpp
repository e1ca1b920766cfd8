// The table tools' command line, run as the build runs them: usage, --build and --check with
// their messages and exit codes, and a table file written whole or not at all.
#include "small_table.h"
#include "table_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>


using namespace quokka::tools;

namespace {

using testgeo::Key;

struct Ran {
    int exit = -1;
    std::string out, err;
};

Ran RunTool(const char *program, const QStringList &arguments)
{
    QProcess process;
    process.start(QString::fromUtf8(program), arguments);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

// TEXT matches PATTERN from its first character to its last.
bool WholeMatch(const std::string &text, const std::string &pattern)
{
    const QRegularExpression whole(QRegularExpression::anchoredPattern(QString::fromStdString(pattern)));
    return whole.isValid() && whole.match(QString::fromStdString(text)).hasMatch();
}

void Write(const QString &path, const std::vector<unsigned char> &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())), qint64(bytes.size()));
}

class TableTools : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        Write(path("as.bin"), testgeo::AsTable({{Key(192, 0, 2, 0), Key(192, 0, 2, 255), 64500, "Example"}}));
        std::vector<unsigned char> truncated = testgeo::AsTable({{1, 2, 64500, "Example"}});
        truncated.pop_back();
        Write(path("truncated.bin"), truncated);
        std::vector<unsigned char> firstFormat6{'Q', 'Q', 'G', 'E', 'O', '6', 0, 1}; // no ranges, no places
        firstFormat6.resize(16);
        Write(path("first6.bin"), firstFormat6);
        const auto city = testgeo::At("AU", "Australia", "Queensland", "Brisbane", -27.46754, 153.02809);
        Write(path("geo.bin"), testgeo::SmallTable()
                                   .noLocation(Key(1, 0, 1, 0), Key(192, 0, 1, 255))
                                   .row(Key(192, 0, 2, 0), Key(223, 255, 255, 255), city)
                                   .terminate()
                                   .bytes());
        QFile csv(path("as.csv"));
        ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
        csv.write("1,10,64500,\"Example, Inc.\"\n20,29,64501,Other\n");
        csv.close();
        QFile broken(path("broken.csv"));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("1,10,64500,Example\nnot a range\n");
    }
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
};

TEST_F(TableTools, CommandsGiveTheirMessagesAndExitCodes)
{
    const std::string asUsage = "usage: quokka-astable --build SOURCE.csv TABLE\n       quokka-astable --check TABLE\n";
    const std::string geoUsage =
        "usage: quokka-geotable --build SOURCE.mmdb ISO_3166-1.json TABLE\n       quokka-geotable --check TABLE\n";
    struct Row {
        const char *what, *tool;
        QStringList arguments; // "@name" is the file NAME in the test's folder
        int exit;
        std::string out, err;  // regular expressions for the whole of each stream
    } rows[] = {
        {"no command", QUOKKA_ASTABLE, {}, 2, "", asUsage},
        {"unknown command", QUOKKA_GEOTABLE, {"--list"}, 2, "", geoUsage},
        {"--build, operands missing", QUOKKA_GEOTABLE, {"--build", "@a", "@b"}, 2, "", geoUsage},
        {"--check, two tables", QUOKKA_ASTABLE, {"--check", "@as.bin", "@as.bin"}, 2, "", asUsage},
        {"AS build", QUOKKA_ASTABLE, {"--build", "@as.csv", "@built.bin"}, 0,
         "quokka-astable: .*/built\\.bin: 90 bytes, 2 ranges from 2 source lines \\(0 overlapping\\), 2 AS entries, "
         "2 distinct names \\(18 bytes\\), [0-9]+\\.[0-9] s\n", ""},
        {"AS check", QUOKKA_ASTABLE, {"--check", "@as.bin"}, 0,
         "bytes: 55\nranges: 1\n(.*\n)*most probes per lookup: 1\n.*/as\\.bin: every check passed\n", ""},
        {"AS check, broken table", QUOKKA_ASTABLE, {"--check", "@truncated.bin"}, 1, "bytes: 54\n(.*\n)*",
         "quokka-astable: .*/truncated\\.bin: the table is not usable: its size does not match its header\n"
         "quokka-astable: .*/truncated\\.bin: 1 faults; the table is not usable\n"},
        {"AS check, no file", QUOKKA_ASTABLE, {"--check", "@none.bin"}, 1, "",
         "quokka-astable: cannot map .*/none\\.bin: No such file or directory\n"},
        {"geo check", QUOKKA_GEOTABLE, {"--check", "@geo.bin"}, 0,
         "bytes: 372\nrows: 3 \\(2 data rows and the terminating row\\)\n(.*\n)*.*/geo\\.bin: every check passed\n", ""},
        {"geo check, IPv6 table of the first format", QUOKKA_GEOTABLE, {"--check", "@first6.bin"}, 1, "bytes: 16\n(.*\n)*",
         "quokka-geotable: .*/first6\\.bin: the table cannot be read: it is an IPv6 geolocation table of an older format "
         "\\(1\\); this program reads format 2\n"
         "quokka-geotable: .*/first6\\.bin: 1 faults; the table is not usable\n"},
        {"geo check, AS table", QUOKKA_GEOTABLE, {"--check", "@as.bin"}, 1, "(.*\n)*",
         "quokka-geotable: .*/as\\.bin: the table is not a whole number of 124-byte rows, at least two\n"
         "quokka-geotable: .*/as\\.bin: 1 faults; the table is not usable\n"},
    };
    for (const Row &row : rows) {
        QStringList arguments;
        for (const QString &argument : row.arguments)
            arguments << (argument.startsWith(u'@') ? path(argument.mid(1).toUtf8().constData()) : argument);
        const Ran ran = RunTool(row.tool, arguments);
        EXPECT_EQ(ran.exit, row.exit) << row.what << "\n" << ran.err;
        EXPECT_TRUE(WholeMatch(ran.out, row.out)) << row.what << ": " << ran.out;
        EXPECT_TRUE(WholeMatch(ran.err, row.err)) << row.what << ": " << ran.err;
    }
}

// A build that fails, in the tool or in the writer, leaves the table that was there and no
// other file; a build that succeeds replaces it.
TEST_F(TableTools, ATableFileIsWrittenWholeOrNotAtAll)
{
    const auto files = [this] { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); };
    const QStringList before = files();
    const Ran failed = RunTool(QUOKKA_ASTABLE, {"--build", path("broken.csv"), path("as.bin")});
    EXPECT_EQ(failed.exit, 1);
    EXPECT_EQ(files(), before);
    {
        tablefile::TableWriter writer(path("as.bin").toStdString());
        writer.Write(std::vector<unsigned char>(1000, 0x5A));
    } // never committed
    EXPECT_EQ(files(), before);
    QFile kept(path("as.bin"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.size(), 55);
    kept.close();

    tablefile::TableWriter writer(path("as.bin").toStdString());
    writer.Write(std::vector<unsigned char>(1000, 0x5A));
    writer.Commit();
    EXPECT_EQ(files(), before);
    EXPECT_EQ(QFile(path("as.bin")).size(), 1000);
    EXPECT_THROW(tablefile::TableWriter(path("none/as.bin").toStdString()), std::runtime_error);
}

} // namespace
