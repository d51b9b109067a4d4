// Converting one NetBIOS name for display, as every result row does: the user's code page, a
// 15-byte name. Prints medians.
#include "BenchStats.h"
#include "platform/OemText.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using corvane::bench::median;

namespace {

} // namespace

int main()
{
    qputenv("LC_ALL", "de_DE.UTF-8");
    const QByteArray name("M\x81LLER-PC      ");
    constexpr int runs = 9, names = 20000;
    std::vector<double> perName;
    qsizetype chars = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < names; ++i)
            chars += OemNameToAnsi(name).size();
        perName.push_back(double(t.nsecsElapsed()) / names);
    }
    std::printf("OemNameToAnsi, 15-byte name, code page 850: median %.0f ns per name (%lld chars)\n",
                median(perName), static_cast<long long>(chars));
    return 0;
}
