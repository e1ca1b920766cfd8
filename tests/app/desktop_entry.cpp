#include "desktop_entry.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace {

// Undoes the escapes of a string value; nothing when an escape is unknown or unfinished.
std::optional<QString> Unescape(const QString &value)
{
    QString plain;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            plain += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case 's': plain += u' '; break;
        case 'n': plain += u'\n'; break;
        case 't': plain += u'\t'; break;
        case 'r': plain += u'\r'; break;
        case '\\': plain += u'\\'; break;
        default: return std::nullopt;
        }
    }
    return plain;
}

// Reads one argument of an Exec value starting at I, which is moved past it.
std::optional<QString> ReadArgument(const QString &exec, qsizetype &i)
{
    static const QString reservedInQuotes = QStringLiteral("\"`$\\");
    static const QString reservedOutside = QStringLiteral("\"'\\><~|&;$*?#()`\t\n");
    QString argument;
    if (exec[i] != u'"') {
        for (; i < exec.size() && exec[i] != u' '; ++i) {
            if (reservedOutside.contains(exec[i]))
                return std::nullopt;
            argument += exec[i];
        }
        return argument;
    }
    for (++i; i < exec.size() && exec[i] != u'"'; ++i) {
        if (exec[i] == u'\\') {
            if (++i == exec.size() || !reservedInQuotes.contains(exec[i]))
                return std::nullopt;
        } else if (reservedInQuotes.contains(exec[i])) {
            return std::nullopt;
        }
        argument += exec[i];
    }
    if (i == exec.size())
        return std::nullopt; // no closing quote
    ++i;
    if (i < exec.size() && exec[i] != u' ')
        return std::nullopt;
    return argument;
}

// Undoes "%%"; any other "%" is a field code, which a launcher of ours never holds.
std::optional<QString> UndoPercent(const QString &argument)
{
    QString plain;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument[i] == u'%' && (++i == argument.size() || argument[i] != u'%'))
            return std::nullopt;
        plain += argument[i];
    }
    return plain;
}

} // namespace

QString DesktopEntry::Value(const QString &group, const QString &key) const
{
    const auto g = groups.find(group);
    if (g == groups.end())
        return QString();
    const auto k = g->second.find(key);
    return k == g->second.end() ? QString() : k->second;
}

DesktopEntry ParseDesktopEntry(const QByteArray &bytes)
{
    DesktopEntry entry;
    const auto fail = [&entry](const QString &why) {
        entry.error = why;
        return entry;
    };
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        return fail(QStringLiteral("not UTF-8"));
    static const QRegularExpression keyLine(QStringLiteral("^([A-Za-z0-9-]+(?:\\[[^\\]]+\\])?) *= *(.*)$"));
    static const QRegularExpression groupLine(QStringLiteral("^\\[([^\\[\\]]+)\\]$"));
    QString group;
    for (const QString &line : text.split(u'\n')) {
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (const auto match = groupLine.match(line); match.hasMatch()) {
            group = match.captured(1);
            if (entry.groups.count(group))
                return fail(QStringLiteral("group twice: ") + line);
            entry.groups[group];
            continue;
        }
        const auto match = keyLine.match(line);
        if (!match.hasMatch() || group.isEmpty())
            return fail(QStringLiteral("stray line: ") + line);
        const auto value = Unescape(match.captured(2));
        if (!value)
            return fail(QStringLiteral("bad escape: ") + line);
        if (!entry.groups[group].emplace(match.captured(1), *value).second)
            return fail(QStringLiteral("key twice: ") + line);
    }
    return entry;
}

std::optional<QStringList> ExecArguments(const QString &exec)
{
    QStringList arguments;
    qsizetype i = 0;
    while (i < exec.size()) {
        if (exec[i] == u' ') {
            ++i;
            continue;
        }
        const auto argument = ReadArgument(exec, i);
        const auto plain = argument ? UndoPercent(*argument) : std::nullopt;
        if (!plain)
            return std::nullopt;
        arguments << *plain;
    }
    return arguments;
}
