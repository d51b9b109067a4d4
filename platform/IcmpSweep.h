#pragma once
// ICMP echo sweep: one echo per millisecond tick to every address, without waiting for answers, on
// one socket; each address's outcome is the reply record the one-echo facility would have given it.

#include "platform/IcmpEcho.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace corvane::platform {

class icmp_sweep
{
public:
    // index in 0..count-1 -> address in network order.
    using address_fn = std::function<std::uint32_t(std::uint64_t index)>;
    // Called in index order, on the thread that runs the sweep; replies is 0 or 1 as for send_echo.
    using result_fn = std::function<void(std::uint64_t index, const TIcmpEchoReply& reply, std::uint32_t replies)>;
    // Why echoes could not be tried (no socket permitted, a system failure); may come more than once.
    using display_fn = std::function<void(const std::string& text)>;

    // Opens the socket; when none is permitted every echo fails as with icmp_echo_handle.
    icmp_sweep();
    ~icmp_sweep();
    icmp_sweep(const icmp_sweep&) = delete;
    icmp_sweep& operator=(const icmp_sweep&) = delete;

    // Blocks until every address sent has its outcome: answered, failed, or timeout_ms after its send.
    // stop (set from any thread) ends the sending; the echoes already out are still waited for.
    void run(std::uint64_t count, const address_fn& address, const void* data, std::uint16_t size,
             const TIpOptionInfo* options, std::uint32_t timeout_ms, const result_fn& result,
             const display_fn& display = {}, const std::atomic<bool>* stop = nullptr);

    // Echoes per second; 0 or less: one per millisecond tick (the default).
    void set_rate(std::int32_t per_second);
    // A stop then also ends the wait for the echoes already out: their outcomes are never handed
    // over, and run() returns within one wake-up (50 ms at most).
    void set_abandon_on_stop(bool abandon) { m_abandon_on_stop = abandon; }

    icmp_echo_handle::socket_kind kind() const { return m_kind; }
    std::uint16_t ident() const { return m_ident; }
    // Echoes sent so far (readable from any thread while run() goes on).
    std::uint64_t sent() const { return m_sent.load(std::memory_order_relaxed); }

    // Socket buffer for count addresses in flight: the ARP queue of an empty on-link address holds
    // its request for seconds, and so keeps it charged to the socket.
    static int buffer_bytes(std::uint64_t count);

private:
    int m_fd = -1;
    icmp_echo_handle::socket_kind m_kind = icmp_echo_handle::socket_kind::none;
    std::uint16_t m_ident = 0;
    std::string m_failure_text;
    std::atomic<std::uint64_t> m_sent{0};
    std::int64_t m_interval_us = 1000;
    bool m_abandon_on_stop = false;
};

} // namespace corvane::platform
