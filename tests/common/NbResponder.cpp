#include "NbResponder.h"

#include "platform/Ipv4.h"

#include <QDeadlineTimer>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvane::test {

namespace {

std::int64_t now_ns()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void put16(QByteArray& b, std::uint16_t v)
{
    b.append(static_cast<char>(v >> 8));
    b.append(static_cast<char>(v & 0xFF));
}

void put32(QByteArray& b, std::uint32_t v)
{
    put16(b, static_cast<std::uint16_t>(v >> 16));
    put16(b, static_cast<std::uint16_t>(v & 0xFFFF));
}

} // namespace

QByteArray node_status_answer(std::uint16_t transactionId, const QList<NbName>& names,
                              const std::array<std::uint8_t, 6>& mac, int statsLength, int trailing)
{
    QByteArray b;
    put16(b, transactionId);
    put16(b, 0x8400); // response, authoritative answer
    put16(b, 0);
    put16(b, 1);
    put16(b, 0);
    put16(b, 0);
    b.append('\x20');
    b.append("CKAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", 32);
    b.append('\0');
    put16(b, 0x0021);
    put16(b, 0x0001);
    put32(b, 0);
    put16(b, static_cast<std::uint16_t>(1 + 18 * names.size() + statsLength));
    b.append(static_cast<char>(names.size()));
    for (const NbName& n : names) {
        QByteArray name = n.name.left(15);
        name.append(QByteArray(15 - name.size(), ' '));
        b.append(name);
        b.append(static_cast<char>(n.suffix));
        b.append(static_cast<char>(n.flags0));
        b.append(static_cast<char>(n.flags1));
    }
    QByteArray stats(statsLength, '\0');
    for (int i = 0; i < 6 && i < statsLength; ++i)
        stats[i] = static_cast<char>(mac[static_cast<std::size_t>(i)]);
    for (int i = 6; i < statsLength; ++i)
        stats[i] = static_cast<char>(i); // recognisable counters
    b.append(stats);
    b.append(QByteArray(trailing, '\0'));
    return b;
}

std::uint32_t dotted_host_order(const char* dotted)
{
    return ipv4::parse_strict(QString::fromLatin1(dotted)).value_or(ipv4::THostAddr{}).value;
}

QString host_order_dotted(std::uint32_t address)
{
    return ipv4::dotted(ipv4::THostAddr{address});
}

std::uint16_t NbResponder::Query::transactionId() const
{
    if (bytes.size() < 2)
        return 0;
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(bytes[0]) << 8) | static_cast<std::uint8_t>(bytes[1]));
}

NbResponder::NbResponder(Handler handler) : m_handler(std::move(handler)) {}

NbResponder::~NbResponder()
{
    stop();
}

bool NbResponder::start()
{
    m_inUse = false;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_fd < 0) {
        m_error = QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    int buf = 4 * 1024 * 1024;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(137);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        m_inUse = errno == EADDRINUSE;
        m_error = QStringLiteral("bind 0.0.0.0:137: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_stop = false;
    m_thread = std::thread([this] { loop(); });
    return true;
}

bool NbResponder::startWaiting(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!start()) {
        if (!m_inUse || deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

void NbResponder::stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_fd = m_wakeFd = -1;
}

void NbResponder::sendTo(std::uint32_t toHostOrder, std::uint16_t toPort, const QByteArray& bytes,
                         std::uint32_t fromHostOrder)
{
    transmit(Pending{0, toHostOrder, toPort, fromHostOrder, bytes});
}

std::vector<NbResponder::Query> NbResponder::queries() const
{
    std::lock_guard lock(m_mutex);
    return m_queries;
}

int NbResponder::queryCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_queries.size());
}

void NbResponder::transmit(const Pending& p)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(p.toPort);
    to.sin_addr.s_addr = htonl(p.to);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec iov{const_cast<char*>(p.bytes.constData()), static_cast<std::size_t>(p.bytes.size())};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(p.from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (::sendmsg(m_fd, &msg, 0) >= 0)
        ++m_sent;
}

void NbResponder::loop()
{
    std::vector<char> buffer(65536);
    while (!m_stop) {
        int timeoutMs = 200;
        {
            std::lock_guard lock(m_mutex);
            if (!m_pending.empty()) {
                const auto next = std::min_element(m_pending.begin(), m_pending.end(),
                                                   [](const Pending& a, const Pending& b) { return a.dueNs < b.dueNs; });
                const std::int64_t left = next->dueNs - now_ns();
                timeoutMs = left <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>(200, left / 1000000 + 1));
            }
        }
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        ::poll(fds, 2, timeoutMs);

        // Delayed answers that are due.
        std::vector<Pending> due;
        {
            std::lock_guard lock(m_mutex);
            const std::int64_t now = now_ns();
            auto split = std::stable_partition(m_pending.begin(), m_pending.end(),
                                               [now](const Pending& p) { return p.dueNs > now; });
            due.assign(split, m_pending.end());
            m_pending.erase(split, m_pending.end());
        }
        for (const Pending& p : due)
            transmit(p);

        if (!(fds[0].revents & POLLIN))
            continue;
        for (;;) {
            sockaddr_in from{};
            alignas(cmsghdr) char control[256];
            iovec iov{buffer.data(), buffer.size()};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(m_fd, &msg, MSG_DONTWAIT);
            if (n < 0)
                break;
            Query q;
            q.from = ntohl(from.sin_addr.s_addr);
            q.fromPort = ntohs(from.sin_port);
            q.bytes = QByteArray(buffer.data(), static_cast<qsizetype>(n));
            q.atNs = now_ns();
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    q.to = ntohl(info.ipi_addr.s_addr);
                }
            }
            std::vector<Datagram> answers = m_handler ? m_handler(q) : std::vector<Datagram>{};
            {
                std::lock_guard lock(m_mutex);
                m_queries.push_back(q);
            }
            for (Datagram& d : answers) {
                Pending p{q.atNs + std::int64_t{d.delayMs} * 1000000, q.from, q.fromPort, d.from ? d.from : q.to,
                          std::move(d.bytes)};
                if (d.delayMs <= 0) {
                    transmit(p);
                } else {
                    std::lock_guard lock(m_mutex);
                    m_pending.push_back(std::move(p));
                }
            }
        }
    }
}

} // namespace corvane::test
