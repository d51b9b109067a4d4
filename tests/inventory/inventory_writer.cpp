// Test helper: opens an inventory and records surveys, so that tests can run it as another user,
// beside another writer, or kill it during a write.
//   inventory_writer open URL                       "ok", or the error and exit 1
//   inventory_writer record URL SCANNER COUNT SIZE  COUNT surveys of SIZE devices, "recorded" after each
//   inventory_writer loop URL SIZE                  surveys until killed

#include "inventory/Inventory.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace corvane::inventory;

// SIZE devices 10.0.x.y with MACs 00.1B.21.00.x.y and a name each, seen by this scanner.
static TSurveyRecord survey(int size, const QString& scanner, qint64 when)
{
    TSurveyRecord s;
    s.time = QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
    s.scanner = scanner;
    s.ranges.push_back({{0x0A000000u}, {0x0A00FFFFu}});
    for (int i = 1; i <= size; ++i) {
        corvane::discovery::TDevice d;
        d.address = {0x0A000000u + static_cast<std::uint32_t>(i)};
        d.mac = corvane::TMacAddress {
            0x00, 0x1B, 0x21, 0x00, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        d.vendor = QStringLiteral("Intel Corporate");
        d.names.push_back({QByteArray("host-") + QByteArray::number(i), corvane::discovery::name_source::dns});
        s.devices.push_back(d);
    }
    return s;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    TInventory inventory;
    if (const QString why = inventory.open(args.value(2)); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    if (mode == QLatin1String("open")) {
        std::puts("ok");
        return 0;
    }
    const bool loop = mode == QLatin1String("loop");
    const QString scanner = loop ? QStringLiteral("looper") : args.value(3);
    const int count = loop ? -1 : args.value(4).toInt();
    const int size = (loop ? args.value(3) : args.value(5)).toInt();
    qint64 when = 1'800'000'000;
    for (int i = 0; count < 0 || i < count; ++i) {
        const TRecordResult r = inventory.record(survey(size, scanner, when += 300));
        if (!r.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            return 1;
        }
        std::puts("recorded");
        std::fflush(stdout);
    }
    return 0;
}
