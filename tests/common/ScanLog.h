#pragma once
// What a TNBTscanThread handed over, and scans made so that a test that gives up early is safe.
//
// The callbacks hold the log by shared_ptr: a callback that comes after the test's wait gave up
// writes into live memory. The factory deletes every scan still alive when it is destroyed or
// stopAll() runs (call it from the test's cleanup()); the scan's destructor interrupts the thread
// and waits for it.
//
//     Log log = std::make_shared<ScanLog>();
//     m_scans.make(log, "127.0.0.1", "127.0.0.9")->Resume();
//     QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);

#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace corvane::test {

// One result as OnReceive saw it during the call.
struct Delivery
{
    QString ip;
    nb_status_result* result = nullptr;
    bool owned = false; // FreeResults was false: the log releases it
    std::int32_t parsedLength = 0;
    bool hasHeader = false;
    std::uint16_t transactionId = 0;
    std::uint16_t headerFlags = 0;
    std::int64_t atNs = 0;
};

// Collected on the thread that made the scan.
struct ScanLog
{
    QList<Delivery> deliveries;
    QStringList errors;
    int ended = 0;
    int offThread = 0; // callbacks that ran on a thread other than the creating one
    std::int64_t endNs = 0;
    std::uint32_t sentAtEnd = 0;
    int setupFailure = -1; // TScanSetupFailure at the end
    std::function<void(const Delivery&)> duringReceive;
    std::function<void()> afterEnd;

    QStringList received() const;
    ScanLog() = default;
    ScanLog(const ScanLog&) = delete; // it releases the results it owns
    ScanLog& operator=(const ScanLog&) = delete;
    ~ScanLog();
};
using Log = std::shared_ptr<ScanLog>;

class ScanFactory
{
public:
    ScanFactory() = default;
    ScanFactory(const ScanFactory&) = delete;
    ScanFactory& operator=(const ScanFactory&) = delete;
    ~ScanFactory() { stopAll(); }

    // A scan of first..last that logs into log, with FreeOnTerminate; not started yet.
    TNBTscanThread* make(const Log& log, const QString& first, const QString& last, QObject* receiver = nullptr);
    // Deletes the scans still alive (a test may delete its own: those are skipped).
    void stopAll();

private:
    QList<QPointer<TNBTscanThread>> m_scans;
};

} // namespace corvane::test
