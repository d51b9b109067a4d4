#include "discovery/NameQuery.h"

#include "discovery/DnsMessage.h"
#include "platform/ErrorQueue.h"

#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::discovery {

namespace {

using clock = std::chrono::steady_clock;

// A flood of answers for one address keeps no more than this per source.
constexpr std::size_t max_names_per_source = 4;
// Reverse lookups in flight at once; each blocks a thread inside the resolver.
constexpr std::size_t dns_threads = 16;
// How often the wait looks at the stop flag and the lookups.
constexpr int poll_slice_ms = 10;

void add_name(std::vector<QByteArray>& names, const QByteArray& name)
{
    if (name.isEmpty() || names.size() >= max_names_per_source)
        return;
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

struct udp_socket
{
    int fd = -1;
    explicit udp_socket(bool open)
    {
        if (!open)
            return;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        // ICMP errors tell an address has no responder, so its wait can end early.
        if (fd >= 0)
            ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    }
    ~udp_socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    udp_socket(const udp_socket&) = delete;
    udp_socket& operator=(const udp_socket&) = delete;
};

// Reverse lookups through the system resolver on threads of their own. The resolver cannot be
// interrupted, so the threads hold the pool and ask_names walks away at its deadline or stop;
// threads still inside a lookup then end on their own and start no further one.
struct dns_pool
{
    std::mutex mutex;
    std::condition_variable changed;
    bool abandoned = false;
    std::vector<std::uint32_t> addresses;
    std::size_t next = 0;
    std::size_t finished = 0;
    clock::time_point start;
    clock::duration interval {};
    std::unordered_map<std::uint32_t, QByteArray> names;

    static void work(const std::shared_ptr<dns_pool>& pool)
    {
        for (;;) {
            std::uint32_t address = 0;
            {
                std::unique_lock lock(pool->mutex);
                if (pool->abandoned || pool->next >= pool->addresses.size())
                    return;
                const std::size_t i = pool->next++;
                address = pool->addresses[i];
                const auto when = pool->start + pool->interval * static_cast<long>(i);
                if (pool->changed.wait_until(lock, when, [&] { return pool->abandoned; }))
                    return;
            }
            sockaddr_in sa {};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = address;
            char host[NI_MAXHOST];
            const bool named = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host,
                                             nullptr, 0, NI_NAMEREQD)
                == 0;
            std::lock_guard lock(pool->mutex);
            if (named)
                pool->names[address] = QByteArray(host);
            ++pool->finished;
            pool->changed.notify_all();
        }
    }
};

struct asked_address
{
    std::uint32_t address = 0;
    QByteArray question;
    std::uint16_t mdns_id = 0;
    std::uint16_t llmnr_id = 0;
    bool mdns_done = false;
    bool llmnr_done = false;
    std::vector<QByteArray> mdns;
    std::vector<QByteArray> llmnr;
};

} // namespace

const char* name_source_word(name_source source)
{
    switch (source) {
    case name_source::netbios:
        return "netbios";
    case name_source::mdns:
        return "mdns";
    case name_source::llmnr:
        return "llmnr";
    case name_source::dns:
        return "dns";
    }
    return "";
}

std::map<std::uint32_t, std::vector<found_name>>
ask_names(const std::vector<std::uint32_t>& addresses, const name_query_options& options, const std::atomic<bool>* stop)
{
    std::vector<std::uint32_t> unique = addresses;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());

    std::vector<asked_address> asked(unique.size());
    std::unordered_map<std::uint32_t, std::size_t> index;
    QRandomGenerator* random = QRandomGenerator::system();
    for (std::size_t i = 0; i < unique.size(); ++i) {
        asked[i].address = unique[i];
        asked[i].question = reverse_name(unique[i]);
        asked[i].mdns_id = static_cast<std::uint16_t>(random->bounded(1, 0x10000));
        asked[i].llmnr_id = static_cast<std::uint16_t>(random->bounded(1, 0x10000));
        asked[i].mdns_done = !options.mdns;
        asked[i].llmnr_done = !options.llmnr;
        index.emplace(unique[i], i);
    }

    udp_socket mdns(options.mdns && !asked.empty());
    udp_socket llmnr(options.llmnr && !asked.empty());
    if (mdns.fd < 0)
        for (auto& a : asked)
            a.mdns_done = true;
    if (llmnr.fd < 0)
        for (auto& a : asked)
            a.llmnr_done = true;

    const int rate = std::max(1, options.rate);
    const int per_address = (mdns.fd >= 0 ? 1 : 0) + (llmnr.fd >= 0 ? 1 : 0);
    const auto datagram_gap = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
    const auto start = clock::now();

    std::shared_ptr<dns_pool> pool;
    if (options.dns && !asked.empty()) {
        pool = std::make_shared<dns_pool>();
        pool->addresses = unique;
        pool->start = start;
        pool->interval = datagram_gap * std::max(1, per_address);
        for (std::size_t t = 0; t < std::min(dns_threads, unique.size()); ++t)
            std::thread(dns_pool::work, pool).detach();
    }

    auto receive = [&](int fd, bool is_mdns) {
        std::uint8_t buffer[9000];
        for (;;) {
            sockaddr_in from {};
            socklen_t from_len = sizeof from;
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return;
                continue; // an ICMP error reported on the socket; its details are in the error queue
            }
            const std::uint16_t port = is_mdns ? options.mdns_port : options.llmnr_port;
            const auto it = index.find(from.sin_addr.s_addr);
            if (from_len < sizeof from || ntohs(from.sin_port) != port || it == index.end())
                continue;
            asked_address& a = asked[it->second];
            const auto answer = read_ptr_answer(buffer, static_cast<std::size_t>(n), a.question);
            if (!answer || answer->id != (is_mdns ? a.mdns_id : a.llmnr_id) || answer->rcode != 0)
                continue;
            for (const QByteArray& name : answer->names)
                add_name(is_mdns ? a.mdns : a.llmnr, name);
            (is_mdns ? a.mdns_done : a.llmnr_done) = true;
        }
    };
    // An unreachable port or host: no answer will come from there.
    auto read_errors = [&](int fd, bool is_mdns) {
        corvane::platform::read_error_queue(fd, [&](const corvane::platform::TQueuedError& e) {
            const auto it = index.find(e.destination);
            if (e.unreachable() && it != index.end())
                (is_mdns ? asked[it->second].mdns_done : asked[it->second].llmnr_done) = true;
        });
    };
    auto send_to = [&](int fd, std::uint32_t address, std::uint16_t port, const QByteArray& datagram, bool* done) {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = address;
        to.sin_port = htons(port);
        // A send reports an ICMP error an earlier datagram met (the socket's pending error) and
        // does not go out: try again, the error is cleared by then.
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (::sendto(fd, datagram.constData(), static_cast<std::size_t>(datagram.size()), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to)
                >= 0)
                return;
            if (errno != ECONNREFUSED && errno != EHOSTUNREACH && errno != ENETUNREACH && errno != EHOSTDOWN)
                break;
        }
        *done = true; // nothing went out, so nothing will answer
    };

    std::size_t next_send = 0; // datagrams sent: address next_send / per_address
    const std::size_t datagrams = asked.size() * static_cast<std::size_t>(per_address);
    clock::time_point last_send = start;
    for (;;) {
        if (stop && stop->load())
            break;
        const auto now = clock::now();
        while (next_send < datagrams && start + datagram_gap * static_cast<long>(next_send) <= now) {
            asked_address& a = asked[next_send / static_cast<std::size_t>(per_address)];
            const bool first = next_send % static_cast<std::size_t>(per_address) == 0;
            if (mdns.fd >= 0 && first)
                send_to(mdns.fd, a.address, options.mdns_port, build_ptr_query(a.mdns_id, a.question, true),
                        &a.mdns_done);
            else
                send_to(llmnr.fd, a.address, options.llmnr_port, build_ptr_query(a.llmnr_id, a.question, false),
                        &a.llmnr_done);
            ++next_send;
            last_send = now;
        }
        const bool all_sent = next_send >= datagrams;
        bool dns_done = true;
        if (pool) {
            std::lock_guard lock(pool->mutex);
            dns_done = pool->finished >= pool->addresses.size();
        }
        const bool udp_done = std::all_of(asked.begin(), asked.end(),
                                          [](const asked_address& a) { return a.mdns_done && a.llmnr_done; });
        const auto deadline = (all_sent ? last_send : clock::now()) + std::chrono::milliseconds(options.timeout_ms);
        if ((all_sent && udp_done && dns_done) || (all_sent && clock::now() >= deadline))
            break;

        auto wait = std::chrono::milliseconds(poll_slice_ms);
        if (!all_sent) {
            const auto due = start + datagram_gap * static_cast<long>(next_send) - clock::now();
            wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(due), std::chrono::milliseconds(0), wait);
        }
        pollfd fds[2] = {{mdns.fd, POLLIN, 0}, {llmnr.fd, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(wait.count())) > 0) {
            if (mdns.fd >= 0 && (fds[0].revents & POLLERR))
                read_errors(mdns.fd, true);
            if (mdns.fd >= 0 && (fds[0].revents & POLLIN))
                receive(mdns.fd, true);
            if (llmnr.fd >= 0 && (fds[1].revents & POLLERR))
                read_errors(llmnr.fd, false);
            if (llmnr.fd >= 0 && (fds[1].revents & POLLIN))
                receive(llmnr.fd, false);
        }
    }

    std::unordered_map<std::uint32_t, QByteArray> dns_names;
    if (pool) {
        std::lock_guard lock(pool->mutex);
        pool->abandoned = true;
        dns_names.swap(pool->names);
        pool->changed.notify_all();
    }

    std::map<std::uint32_t, std::vector<found_name>> result;
    for (const asked_address& a : asked) {
        std::vector<found_name> names;
        for (const QByteArray& n : a.mdns)
            names.push_back({n, name_source::mdns});
        for (const QByteArray& n : a.llmnr)
            names.push_back({n, name_source::llmnr});
        if (const auto it = dns_names.find(a.address); it != dns_names.end())
            names.push_back({it->second, name_source::dns});
        if (!names.empty())
            result.emplace(a.address, std::move(names));
    }
    return result;
}

} // namespace corvane::discovery
