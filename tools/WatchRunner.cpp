#include "tools/WatchRunner.h"

#include "tools/ScanRunner.h"

namespace corvane::scan {

namespace {

corvane::inventory::TInventoryOptions inventory_options(const TScanOptions& options)
{
    corvane::inventory::TInventoryOptions o;
    o.goneAfter = options.goneAfter;
    return o;
}

} // namespace

TWatchRunner::TWatchRunner(const TScanOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_inventory(inventory_options(options))
{
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &TWatchRunner::survey);
}

TWatchRunner::~TWatchRunner() = default;

void TWatchRunner::start()
{
    survey();
}

void TWatchRunner::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    // Between surveys the watch ends at once; a running one is stopped and left unrecorded.
    if (m_runner) {
        m_runner->stop();
        return;
    }
    m_next.stop();
    Q_EMIT finished(kExitScanRan);
}

void TWatchRunner::survey()
{
    m_began.start();
    m_runner = std::make_unique<TScanRunner>(m_options);
    m_runner->setInventory(&m_inventory);
    connect(m_runner.get(), &TScanRunner::finished, this, &TWatchRunner::surveyEnded, Qt::QueuedConnection);
    m_runner->start();
}

void TWatchRunner::surveyEnded(int status)
{
    m_runner.reset();
    if (m_stopping) {
        Q_EMIT finished(kExitScanRan);
        return;
    }
    // A bad range stays bad; anything else (no socket yet, an inventory that failed) may pass.
    if (m_options.once || status == kExitBadUsage) {
        Q_EMIT finished(status);
        return;
    }
    // From start to start; a survey longer than the interval is followed at once, never twice.
    const qint64 left = qint64(m_options.everySecs) * 1000 - m_began.elapsed();
    m_next.start(static_cast<int>(std::max<qint64>(0, left)));
}

} // namespace corvane::scan
