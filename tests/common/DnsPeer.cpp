#include "DnsPeer.h"

#include <QList>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {

namespace {

bool to_sockaddr(const QString& address, std::uint16_t port, sockaddr_in& sa)
{
    sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    return ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr) == 1;
}

} // namespace

QByteArray dns_labels(const QByteArray& dotted)
{
    QByteArray out;
    for (const QByteArray& label : dotted.split('.')) {
        out.append(static_cast<char>(label.size()));
        out.append(label);
    }
    out.append('\0');
    return out;
}

QByteArray question_of(const QByteArray& query)
{
    qsizetype pos = 12;
    while (pos < query.size() && query[pos] != 0)
        pos += 1 + static_cast<std::uint8_t>(query[pos]);
    return query.mid(12, pos + 5 - 12);
}

QByteArray ptr_reply(const QByteArray& query, const QByteArray& name)
{
    QByteArray r = query.left(2);
    r.append("\x84\x00\x00\x01\x00\x01\x00\x00\x00\x00", 10);
    r.append(question_of(query));
    const QByteArray target = dns_labels(name);
    r.append("\xC0\x0C\x00\x0C\x00\x01\x00\x00\x00\x0A", 10);
    r.append(static_cast<char>(target.size() >> 8));
    r.append(static_cast<char>(target.size() & 0xFF));
    r.append(target);
    return r;
}

DnsPeer::DnsPeer(Handler handler)
    : m_handler(std::move(handler))
{ }

DnsPeer::~DnsPeer()
{
    if (m_thread.joinable()) {
        const char c = 0;
        [[maybe_unused]] const auto n = ::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (int fd : {m_fd, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

bool DnsPeer::start(const QString& address, std::uint16_t port)
{
    sockaddr_in sa;
    if (!to_sockaddr(address, port, sa)) {
        m_error = QStringLiteral("not an address: ") + address;
        return false;
    }
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("cannot bind %1:%2: %3")
                      .arg(address)
                      .arg(port)
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_port = port;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void DnsPeer::serve()
{
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        char buffer[1500];
        sockaddr_in from {};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 12)
            continue;
        ++m_queries;
        for (const Reply& reply : m_handler(QByteArray(buffer, n))) {
            int fd = m_fd;
            sockaddr_in other;
            if (!reply.from.isEmpty()) {
                fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                const int on = 1;
                ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
                if (fd < 0 || !to_sockaddr(reply.from, m_port, other)
                    || ::bind(fd, reinterpret_cast<sockaddr*>(&other), sizeof other) != 0) {
                    if (fd >= 0)
                        ::close(fd);
                    continue;
                }
            }
            ::sendto(fd, reply.bytes.constData(), static_cast<size_t>(reply.bytes.size()), 0,
                     reinterpret_cast<sockaddr*>(&from), sizeof from);
            if (fd != m_fd)
                ::close(fd);
        }
    }
}

} // namespace corvane::test
