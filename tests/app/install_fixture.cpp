#include "install_fixture.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <sys/stat.h>

using namespace quokka::app;

namespace {

const char *const kVariables[] = {"HOME", "APPDATA", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"};

QStringList g_logLines;
QtMessageHandler g_previousHandler = nullptr;

void CaptureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArray(context.category) == "quokka")
        g_logLines << message;
    else if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

void InstallFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    for (const char *name : kVariables) {
        m_savedEnvironment.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        UnsetVariable(name);
    }
    MakeFolder(Home());
    SetVariable("HOME", Home());
    g_logLines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("quokka.debug=true"));
    g_previousHandler = qInstallMessageHandler(CaptureLog);
}

void InstallFixture::TearDown()
{
    qInstallMessageHandler(g_previousHandler);
    QLoggingCategory::setFilterRules(QString());
    for (const auto &[name, value] : m_savedEnvironment) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
}

QString InstallFixture::Path(const QString &relative) const
{
    return m_dir.path() + u'/' + relative;
}

InstallPlaces InstallFixture::MadePlaces(const QByteArray &program, mode_t mode)
{
    InstallPlaces places;
    places.program = Path(QStringLiteral("bin/quokka-quokka"));
    places.dataHome = Path(QStringLiteral("data"));
    places.desktop = Path(QStringLiteral("Desktop"));
    places.applications = Path(QStringLiteral("data/applications"));
    MakeFolder(Path(QStringLiteral("bin")));
    MakeFolder(places.desktop);
    WriteFile(places.program, program, mode);
    return places;
}

QByteArray InstallFixture::ProgramBytes()
{
    // Large enough to span many pages, and not one repeated byte, so a partial or shifted
    // copy shows.
    QByteArray bytes;
    for (int i = 0; i < 3 * 1024 * 1024; ++i)
        bytes += static_cast<char>((i * 131 + i / 4093) & 0xff);
    return bytes;
}

void InstallFixture::SetVariable(const char *name, const QString &value)
{
    qputenv(name, QFile::encodeName(value));
}

void InstallFixture::UnsetVariable(const char *name)
{
    qunsetenv(name);
}

void InstallFixture::MakeFolder(const QString &path)
{
    ASSERT_TRUE(QDir().mkpath(path)) << path.toStdString();
}

void InstallFixture::WriteFile(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QByteArray InstallFixture::ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool InstallFixture::Exists(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

mode_t InstallFixture::Mode(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QStringList InstallFixture::Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray InstallFixture::IconBytes()
{
    return ReadFile(QStringLiteral(":/res/icon.png"));
}

DesktopEntry InstallFixture::Launcher(const QString &path)
{
    const QByteArray bytes = ReadFile(path);
    EXPECT_FALSE(bytes.isEmpty()) << "no launcher at " << path.toStdString();
    DesktopEntry entry = ParseDesktopEntry(bytes);
    EXPECT_EQ(entry.error.toStdString(), "") << path.toStdString();
    return entry;
}

const QStringList &InstallFixture::LogLines()
{
    return g_logLines;
}
