#pragma once
// A NetBIOS node-status peer on the loopback for tests and benchmarks.
//
// Binds 0.0.0.0:137 (root), so it hears queries to every 127.x.y.z, and answers each one from the
// address that was queried (IP_PKTINFO) or from any other loopback address the handler names.
// Tests that use it take the CTest RESOURCE_LOCK "port137".
//
//     NbResponder peer([](const NbResponder::Query& q) {
//         return std::vector<NbResponder::Datagram>{{node_status_answer(q.transactionId(), {{"PC1", 0x00, 0x04}})}};
//     });
//     QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::test {

struct NbName
{
    QByteArray name;         // up to 15 bytes, padded with spaces; longer is cut
    std::uint8_t suffix = 0;
    std::uint8_t flags0 = 0x04; // high flag byte: group 0x80, node type 0x60, active 0x04 ...
    std::uint8_t flags1 = 0;
};

// A well-formed node-status answer: header, names, statistics block of statsLength bytes (50 is
// what the parser reads whole, 46 the RFC block), then trailing extra bytes.
QByteArray node_status_answer(std::uint16_t transactionId, const QList<NbName>& names,
                              const std::array<std::uint8_t, 6>& mac = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC},
                              int statsLength = 50, int trailing = 1);

// Dotted text <-> host-order address (0 for text that is not a dotted quad).
std::uint32_t dotted_host_order(const char* dotted);
QString host_order_dotted(std::uint32_t address);

class NbResponder
{
public:
    struct Query
    {
        std::uint32_t to = 0;     // queried address, host order
        std::uint32_t from = 0;   // scanner's address, host order
        std::uint16_t fromPort = 0;
        QByteArray bytes;
        std::int64_t atNs = 0;    // monotonic arrival time
        std::uint16_t transactionId() const;
    };
    struct Datagram
    {
        QByteArray bytes;
        std::uint32_t from = 0;   // source address (host order); 0: the queried address
        int delayMs = 0;          // sent this long after the query arrived
    };
    using Handler = std::function<std::vector<Datagram>(const Query&)>;

    explicit NbResponder(Handler handler);
    ~NbResponder();
    NbResponder(const NbResponder&) = delete;
    NbResponder& operator=(const NbResponder&) = delete;

    bool start();   // false with lastError() when the port cannot be bound
    // start(), tried again while another program holds the port (CTest's RESOURCE_LOCK orders only
    // its own run); false at once for any other failure.
    bool startWaiting(int timeoutMs = 60000);
    void stop();    // also done by the destructor
    QString lastError() const { return m_error; }

    // Also sends a datagram on its own, outside any query (to a scanner's address and port).
    void sendTo(std::uint32_t toHostOrder, std::uint16_t toPort, const QByteArray& bytes, std::uint32_t fromHostOrder);

    std::vector<Query> queries() const; // every query heard so far, in arrival order
    int queryCount() const;
    std::int64_t answersSent() const { return m_sent.load(); }

private:
    struct Pending
    {
        std::int64_t dueNs;
        std::uint32_t to;
        std::uint16_t toPort;
        std::uint32_t from;
        QByteArray bytes;
    };
    void loop();
    void transmit(const Pending& p);

    Handler m_handler;
    QString m_error;
    bool m_inUse = false;
    int m_fd = -1;
    int m_wakeFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_sent{0};
    mutable std::mutex m_mutex;
    std::vector<Query> m_queries;
    std::vector<Pending> m_pending; // guarded by m_mutex
};

} // namespace corvane::test
