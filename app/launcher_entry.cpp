#include "app/launcher_entry.h"

#include <algorithm>

namespace quokka::app {

QString LauncherValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': escaped += QLatin1String("\\\\"); break;
        case '\n': escaped += QLatin1String("\\n"); break;
        case '\r': escaped += QLatin1String("\\r"); break;
        case '\t': escaped += QLatin1String("\\t"); break;
        default: escaped += c;
        }
    }
    return escaped;
}

QString LauncherExec(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool quoted = std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); });
    QString argument = quoted ? QStringLiteral("\"") : QString();
    for (const QChar c : program) {
        if (quoted && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            argument += u'\\';
        argument += c;
        if (c == u'%')
            argument += u'%';
    }
    if (quoted)
        argument += u'"';
    return LauncherValue(argument);
}

} // namespace quokka::app
