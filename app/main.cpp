// Starts the program: command-only modes without a window, else the main dialog.
#include "app/automation.h"
#include "app/main_dialog.h"
#include "app/options.h"
#include "base/standard_streams.h"
#include "base/window_support.h"
#include "base/worker.h"

#include <QApplication>
#include <QLoggingCategory>
#include <cstdio>

using namespace quokka::app;

namespace {

bool DisplayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// A run that ends on its own (--quit) on the offscreen platform has no one to click the setup
// window: a first run then goes on without a home point instead of waiting for ever.
void GoOnWithoutSetupWhenUnattended(CQuokkaQuokkaDlg &dialog, const Options &options)
{
    if (!options.quit || QGuiApplication::platformName() != QLatin1String("offscreen"))
        return;
    ExplorationServices services = ExplorationServices::Real();
    services.setupUnattended = [] {
        std::fprintf(stderr, "quokka-quokka: no home point is stored and there is no display to click it on; "
                             "going on without one (store one with --home X,Y)\n");
    };
    dialog.SetServices(std::move(services));
}

QStringList Arguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char **argv)
{
    quokka::SecureStandardStreams();
    const Options options = ParseOptions(Arguments(argc, argv));
    if (options.IsCommandOnly()) {
        QCoreApplication app(argc, argv);
        UseTables(options);
        return RunCommand(options);
    }
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "quokka-quokka: no display is available; for a headless exploration run "
                             "QT_QPA_PLATFORM=offscreen quokka-quokka --explore example.com --quit --report\n");
        return 1;
    }
    if (options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("quokka.debug=true"));

    QApplication app(argc, argv);
    UseTables(options);
    app.setQuitOnLastWindowClosed(false); // the main dialog's close ends the program
    QGuiApplication::setDesktopFileName(QStringLiteral(QUOKKA_APP_ID)); // the desktop matches the windows to the menu entry
    QApplication::setFont(quokka::DialogFont()); // menus and tooltips too
    quokka::FollowKeyConventions(app);
    int status = 0;
    {
        CQuokkaQuokkaDlg dialog;
        GoOnWithoutSetupWhenUnattended(dialog, options);
        if (options.ipv6)
            dialog.SetPreferIPv6(true);
        Automation automation(dialog, options);
        dialog.show();
        automation.Start();
        status = app.exec();
        status = status != 0 ? status : automation.ExitStatus();
    }
    // A run's probe helper may still be on its way out; nothing is on screen any more.
    quokka::WaitForWorkers();
    return status;
}
