#pragma once
// A small DNS-message peer for the name tests: the LLMNR responder of a namespace host (answers a
// reverse PTR for its own address) and, on the loopback, peers that answer well or badly.
//
// It answers from a socket bound in the network namespace of the thread that calls start(); a
// reply may come from another address of that namespace instead.
//
//     DnsPeer peer([](const QByteArray& q) { return std::vector<DnsPeer::Reply>{{ptr_reply(q, "host.lan")}}; });
//     QVERIFY2(peer.start("10.77.0.12", 5355), qPrintable(peer.lastError()));

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace corvane::test {

// A name as DNS labels with the final zero; the text is split at dots, each label at most 255 bytes
// (longer labels are for hostile peers: a length byte above 63 is not a plain label).
QByteArray dns_labels(const QByteArray& dotted);
// The question of a query (its name and the four bytes after it), as a reply repeats it.
QByteArray question_of(const QByteArray& query);
// A well-formed reply to query: its id, QR and AA set, the question repeated, one PTR answer whose
// owner points at the question (0xC00C) and whose target is name.
QByteArray ptr_reply(const QByteArray& query, const QByteArray& name);

class DnsPeer
{
public:
    struct Reply
    {
        QByteArray bytes;
        QString from; // another address of the namespace to send from (same port); empty: the bound one
    };
    using Handler = std::function<std::vector<Reply>(const QByteArray& query)>;

    explicit DnsPeer(Handler handler);
    ~DnsPeer();
    DnsPeer(const DnsPeer&) = delete;
    DnsPeer& operator=(const DnsPeer&) = delete;

    bool start(const QString& address, std::uint16_t port);
    QString lastError() const { return m_error; }
    int queries() const { return m_queries.load(); }

private:
    void serve();

    Handler m_handler;
    int m_fd = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::atomic<int> m_queries {0};
    std::thread m_thread;
    QString m_error;
};

} // namespace corvane::test
