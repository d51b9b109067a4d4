#include "ScanLog.h"

#include "platform/Clock.h"

#include <QThread>

namespace corvane::test {

QStringList ScanLog::received() const
{
    QStringList ips;
    for (const Delivery& d : deliveries)
        ips << d.ip;
    return ips;
}

ScanLog::~ScanLog()
{
    for (const Delivery& d : deliveries)
        if (d.owned)
            release_result(d.result);
}

TNBTscanThread* ScanFactory::make(const Log& log, const QString& first, const QString& last, QObject* receiver)
{
    auto* scan = new TNBTscanThread(receiver);
    scan->StartIP = first;
    scan->EndIP = last;
    QThread* owner = QThread::currentThread();
    scan->OnReceive = [log, owner](TNBTscanThread* sender, const QString& ip, nb_status_result* r) {
        if (QThread::currentThread() != owner)
            ++log->offThread;
        Delivery d;
        d.ip = ip;
        d.result = r;
        d.owned = !sender->FreeResults;
        d.parsedLength = r->parsed_length;
        d.hasHeader = r->status_header != nullptr;
        if (r->status_header) {
            d.transactionId = r->status_header->transaction_id;
            d.headerFlags = r->status_header->header_flags;
        }
        d.atNs = corvane::platform::monotonic_ns();
        log->deliveries << d;
        if (log->duringReceive)
            log->duringReceive(d);
    };
    scan->OnError = [log, owner](TNBTscanThread*, const QString& line) {
        if (QThread::currentThread() != owner)
            ++log->offThread;
        log->errors << line;
    };
    scan->OnTerminate = [log, owner](TNBTscanThread* sender) {
        if (QThread::currentThread() != owner)
            ++log->offThread;
        ++log->ended;
        log->endNs = corvane::platform::monotonic_ns();
        log->sentAtEnd = sender->QueriesSent();
        log->setupFailure = int(sender->SetupFailure());
        if (log->afterEnd)
            log->afterEnd();
    };
    scan->FreeOnTerminate = true;
    m_scans << QPointer<TNBTscanThread>(scan);
    return scan;
}

void ScanFactory::stopAll()
{
    for (const QPointer<TNBTscanThread>& scan : std::as_const(m_scans))
        delete scan.data();
    m_scans.clear();
}

} // namespace corvane::test
