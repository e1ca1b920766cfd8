#pragma once
// A strict reader of launcher files, written from the desktop entry rules, so tests check what
// a launcher means rather than how its text looks.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

struct DesktopEntry {
    std::map<QString, std::map<QString, QString>> groups; // group -> key -> value, escapes undone
    QString error;                                        // empty when the file is well formed

    QString Value(const QString &group, const QString &key) const;
};

DesktopEntry ParseDesktopEntry(const QByteArray &bytes);

// The arguments of an Exec value after quoting and "%%" are undone; nothing when it is
// malformed or holds a field code.
std::optional<QStringList> ExecArguments(const QString &exec);
