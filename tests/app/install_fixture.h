#pragma once
// A temporary home for installer tests: the installer's environment variables cleared and
// restored, its debug log captured, and helpers to read what it left behind.
#include "desktop_entry.h"
#include "app/installer.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // PATH inside the temporary folder.
    QString Path(const QString &relative) const;
    QString Home() const { return Path(QStringLiteral("home")); }
    // The places of a program made by the test, with a desktop folder that exists.
    quokka::app::InstallPlaces MadePlaces(const QByteArray &program = ProgramBytes(), mode_t mode = 0751);
    static QByteArray ProgramBytes();

    static void SetVariable(const char *name, const QString &value);
    static void UnsetVariable(const char *name);
    static void MakeFolder(const QString &path);
    static void WriteFile(const QString &path, const QByteArray &bytes, mode_t mode = 0644);
    static QByteArray ReadFile(const QString &path);
    static bool Exists(const QString &path);
    static mode_t Mode(const QString &path);
    static QStringList Entries(const QString &folder); // hidden ones too, sorted
    static QByteArray IconBytes();

    // The launcher at PATH, parsed; fails the test when it is malformed.
    static DesktopEntry Launcher(const QString &path);
    // What the debug log received since SetUp.
    static const QStringList &LogLines();

private:
    QTemporaryDir m_dir;
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_savedEnvironment;
};
