#include "console.h"
#include "planreport.h"
#include "stackcommandline.h"
#include "stackrun.h"

#include <QCoreApplication>
#include <QTextStream>

#include <clocale>

// The batch front end: no display, no widgets; exit status 0 written, 1 failed, 2 usage, 130 interrupted.
int main(int argc, char *argv[])
{
    // The image writer records the resolution Qt assumes: 96 dpi, as the window writes on a usual
    // screen, rather than the 100 dpi Qt falls back to without any screen.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(VELUMEN_VERSION));
    // QCoreApplication takes the user's locale; numbers stay in the C form whatever it is.
    std::setlocale(LC_NUMERIC, "C");

    StackCommandLine commandLine;
    const StackCommandLine::Action action = commandLine.parse(QCoreApplication::arguments());
    if (!commandLine.leftOutNotice().isEmpty() && !commandLine.quiet())
        Console::error(commandLine.leftOutNotice());
    switch (action) {
    case StackCommandLine::ShowHelp:
        Console::out(StackCommandLine::helpText().trimmed());
        return 0;
    case StackCommandLine::ShowVersion:
        Console::out(QStringLiteral("velumen-stack %1").arg(QCoreApplication::applicationVersion()));
        return 0;
    case StackCommandLine::UsageError:
        Console::error(commandLine.errorText());
        Console::errorText(QStringLiteral("Try 'velumen-stack --help' for more information.\n"));
        return 2;
    case StackCommandLine::DryRun: {
        QTextStream out(stdout);
        PlanReport::print(out, commandLine.job());
        return 0;
    }
    case StackCommandLine::Run:
        break;
    }

    StackRun run(commandLine.job(), commandLine.outputFolder(), commandLine.quiet());
    if (!run.preflight())
        return StackRun::Failed;
    QObject::connect(&run, &StackRun::finished, &application, &QCoreApplication::exit);
    run.start();
    return application.exec();
}
