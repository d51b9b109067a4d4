// Prints: 200,000 error lines (one failed send per address, as a scan of a large empty range gives)
// shown on the Errors page, bounded to 10,000 lines with repeats folded, against the unbounded text
// box it replaces, with the page hidden (a scan shows its list) and showing: time per 1,000 lines
// (median of three runs), lines kept, peak memory growth.
#include "BenchStats.h"
#include "app/ErrorPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

using corvane::bench::median;
using corvane::bench::peak_rss_kib;

namespace {

constexpr int kLines = 200000;

QString line(int i)
{
    return QStringLiteral("Send to 10.%1.%2.%3 failed").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
}

// page: makes what adds line i to a box, for each run's new box.
using TAdder = std::function<void(int)>;
void measure(const char* what, bool shown, const std::function<TAdder(QPlainTextEdit&)>& page)
{
    std::vector<double> perThousand;
    int kept = 0;
    const long before = peak_rss_kib();
    for (int run = 0; run < 3; ++run) {
        QPlainTextEdit box;
        box.resize(800, 500);
        if (shown)
            box.show();
        const TAdder add = page(box);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < kLines; ++i) {
            add(i);
            if (i % 1000 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        perThousand.push_back(t.nsecsElapsed() / 1e6 / (kLines / 1000.0));
        kept = box.document()->blockCount();
    }
    std::printf("  %s, page %s: median %.1f ms per 1,000 lines, %d lines kept, peak memory +%.1f MiB\n", what,
                shown ? "showing" : "hidden", median(perThousand), kept, (peak_rss_kib() - before) / 1024.0);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    std::printf("%d failed-send lines on the Errors page:\n", kLines);
    const auto bounded = [](QPlainTextEdit& box) -> TAdder {
        auto page = std::make_shared<TErrorPage>(&box);
        return [page](int i) { page->add(line(i)); };
    };
    const auto unbounded
        = [](QPlainTextEdit& box) -> TAdder { return [&box](int i) { box.appendPlainText(line(i)); }; };
    // Bounded first: its peak stays below what the unbounded box reaches after it.
    for (const bool shown : {false, true}) {
        measure("bounded (10,000 lines, repeats folded)", shown, bounded);
        measure("unbounded text box, as before", shown, unbounded);
    }
    return 0;
}
