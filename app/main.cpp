#include "app/CommandLine.h"
#include "app/ConnectOnStart.h"
#include "app/LogFile.h"
#include "app/Startup.h"
#include "app/StopSignals.h"
#include "app/Thermography.h"
#include "store/AppPaths.h"

#include <QApplication>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

int main(int argc, char* argv[])
{
    limitAllocatorRetention();
    // Checked before any window exists, so a bad command line never shows one.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CommandLine commandLine;
    QString error;
    if (!CommandLine::parse(arguments, commandLine, error)) {
        std::fprintf(stderr, "ardenix: %s\n%s", qPrintable(error), qPrintable(CommandLine::usage()));
        return 2;
    }
    if (commandLine.help) {
        std::fputs(qPrintable(CommandLine::usage()), stdout);
        return 0;
    }
    if (commandLine.version) {
        std::puts("ardenix " ARDENIX_VERSION_TEXT);
        return 0;
    }

    QApplication app(argc, argv);
    // Log lines also go to a daily file in the data folder; standard error
    // keeps them too unless ARDENIX_LOG_STDERR=0.
    LogFile::install(AppPaths::dataDir(), qgetenv("ARDENIX_LOG_STDERR") != "0");
    qInfo(
        "ardenix %s start, pid %lld", ARDENIX_VERSION_TEXT, static_cast<long long>(QCoreApplication::applicationPid()));
    QTranslator translator;
    prepareApplication(app, translator);

    Thermography window;
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::sigStopRequested, &window, &Thermography::onSigStopRequested);
    window.show();
    if (commandLine.connect) {
        auto* connector = new ConnectOnStart(&window, commandLine);
        QTimer::singleShot(0, connector, &ConnectOnStart::start);
    }
    return app.exec();
}
