// corvane-scan: the headless front end on the engine of the Corvane window.
#include "platform/FileVersion.h"
#include "tools/ScanOptions.h"
#include "tools/ScanRunner.h"
#include "tools/WatchRunner.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace corvane::scan;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const TParseResult parsed = parse_scan_options(QCoreApplication::arguments().mid(1));
    if (!parsed.options) {
        std::fprintf(stderr, "corvane-scan: %s\n", qUtf8Printable(parsed.error));
        return kExitBadUsage;
    }
    const TScanOptions& options = *parsed.options;
    if (options.command == TCommand::Help) {
        std::fputs(qUtf8Printable(usage_text()), stdout);
        return kExitScanRan;
    }
    if (options.command == TCommand::Version) {
        std::printf("corvane-scan %s\n", qUtf8Printable(get_file_version(QString())));
        return kExitScanRan;
    }

    TSignalPipe interrupts;
    if (options.command == TCommand::Watch) {
        TWatchRunner watch(options);
        QObject::connect(&interrupts, &TSignalPipe::interrupted, &watch, &TWatchRunner::stop);
        QObject::connect(&watch, &TWatchRunner::finished, &app, [](int status) { QCoreApplication::exit(status); });
        QTimer::singleShot(0, &watch, &TWatchRunner::start);
        return QCoreApplication::exec();
    }
    TScanRunner runner(options);
    QObject::connect(&interrupts, &TSignalPipe::interrupted, &runner, &TScanRunner::stop);
    QObject::connect(&runner, &TScanRunner::finished, &app, [](int status) { QCoreApplication::exit(status); });
    QTimer::singleShot(0, &runner, &TScanRunner::start);
    return QCoreApplication::exec();
}
