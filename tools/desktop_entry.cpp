// quokka-desktop-entry TEMPLATE OUTPUT PROGRAM: the menu entry of an installed program. Writes
// TEMPLATE to OUTPUT with "@QUOKKA_EXEC@" replaced by the Exec value that starts PROGRAM,
// written as the first run's launchers write theirs. Run by `cmake --install`, which only
// then knows where the program goes.
#include "app/launcher_entry.h"
#include "base/output_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

using quokka::app::LauncherExec;

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fprintf(stderr, "usage: quokka-desktop-entry TEMPLATE OUTPUT PROGRAM\n");
        return 2;
    }
    QFile source(arguments[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "quokka-desktop-entry: %s: %s\n", qUtf8Printable(arguments[1]), qUtf8Printable(source.errorString()));
        return 1;
    }
    QString text = QString::fromUtf8(source.readAll());
    text.replace(QLatin1String("@QUOKKA_EXEC@"), LauncherExec(arguments[3]));
    if (const QString error = quokka::WriteOutputFile(arguments[2], text.toUtf8()); !error.isEmpty()) {
        std::fprintf(stderr, "quokka-desktop-entry: %s: %s\n", qUtf8Printable(arguments[2]), qUtf8Printable(error));
        return 1;
    }
    return 0;
}
