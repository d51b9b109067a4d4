// The vendor registry: reading a registry of Debian's size, a lookup, and what the caller's thread
// spends to start the read. Prints medians.
#include "BenchStats.h"
#include "support/Vendors.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace corvane;

using corvane::bench::median;

namespace {

// Lines like ieee-data's: quoted names with commas, addresses, CR LF.
bool write_registry(const QString& dir, const char* file, const char* kind, int digits, int count, quint64 seed)
{
    QFile f(dir + u'/' + QLatin1String(file));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator rng {quint32(seed)};
    QByteArray text = "Registry,Assignment,Organization Name,Organization Address\r\n";
    for (int i = 0; i < count; ++i)
        text += QByteArray(kind) + ','
              + QByteArray::number(rng.generate64() & ((quint64(1) << (4 * digits)) - 1), 16)
                    .rightJustified(digits, '0')
                    .toUpper()
              + ",\"Example Devices " + QByteArray::number(i) + ", Inc.\",\"Street " + QByteArray::number(i)
              + " Industrial Park  Springfield  ST  US  12345\"\r\n";
    return f.write(text) == text.size();
}

} // namespace

int main()
{
    QTemporaryDir dir;
    // About the sizes of ieee-data in Debian 12: 35,000 MA-L, 5,000 MA-M, 6,000 MA-S assignments.
    if (!dir.isValid() || !write_registry(dir.path(), "oui.csv", "MA-L", 6, 35000, 1)
        || !write_registry(dir.path(), "mam.csv", "MA-M", 7, 5000, 2)
        || !write_registry(dir.path(), "oui36.csv", "MA-S", 9, 6000, 3)) {
        std::fprintf(stderr, "cannot write the registry\n");
        return 1;
    }
    constexpr int runs = 7;
    std::vector<double> readMs, startUs;
    qsizetype entries = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        const TVendorTable table = TVendorTable::read(dir.path());
        readMs.push_back(double(t.nsecsElapsed()) / 1e6);
        entries = table.size();

        TVendorRegistry registry(dir.path());
        t.restart();
        registry.load();
        startUs.push_back(double(t.nsecsElapsed()) / 1e3);
        registry.wait();
    }

    const TVendorTable table = TVendorTable::read(dir.path());
    QRandomGenerator rng(7);
    std::vector<TMacAddress> macs(1 << 16);
    for (TMacAddress& m : macs)
        for (std::uint8_t& b : m)
            b = std::uint8_t(rng.bounded(256));
    std::vector<double> lookupNs;
    qsizetype found = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        for (const TMacAddress& m : macs)
            found += table.vendor(m).isEmpty() ? 0 : 1;
        lookupNs.push_back(double(t.nsecsElapsed()) / double(macs.size()));
    }
    std::printf("vendor registry: %lld prefixes\n", static_cast<long long>(entries));
    std::printf("  read oui.csv + mam.csv + oui36.csv: median %.1f ms (off the GUI thread)\n", median(readMs));
    std::printf("  load() on the caller's thread:      median %.1f us\n", median(startUs));
    std::printf("  one lookup (3 hash probes at most): median %.0f ns (%lld of %zu random addresses named)\n",
                median(lookupNs), static_cast<long long>(found / runs), macs.size());
    return 0;
}
