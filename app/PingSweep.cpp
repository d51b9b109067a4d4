#include "app/PingSweep.h"

#include "icmp/Icmp.h"
#include "platform/IcmpSweep.h"
#include "support/My_net_tcpip.h"
#include "support/ResultText.h"

#include <QThread>

#include <vector>

using namespace corvane::ipv4;

TPingSweep::TPingSweep(QObject* parent)
    : QObject(parent)
{
    m_lookups.setMaxThreadCount(16);
}

TPingSweep::~TPingSweep()
{
    m_stop = true;
    if (m_thread)
        m_thread->wait();
    m_lookups.waitForDone();
}

void TPingSweep::start(const TSettings& settings)
{
    // The checks of TICMP::Ping, so that both sweeps refuse the same settings.
    if (settings.ttl < 0 || settings.ttl > 255 || settings.flags < 0 || settings.flags > 255 || settings.timeoutMs < 0
        || settings.size < 0 || settings.size > 65535)
        throw ERangeError();
    m_settings = settings;
    m_total = walk_length(settings.first, settings.last);
    std::uint64_t count = m_total;
    // The one-echo engine's mark of an unresolved address: never pinged, no row.
    if (m_total > 0 && settings.last == kInetAddrNone.host()) {
        m_skipsBroadcast = true;
        --count;
    }
    m_sweep = std::make_unique<corvane::platform::icmp_sweep>();
    // Stop ends the sweep at once; the echoes still out would only add rows nobody waits for.
    m_sweep->set_abandon_on_stop(true);
    m_thread.reset(QThread::create([this, count] { sweepOnThread(count); }));
    m_thread->start();
}

void TPingSweep::stop()
{
    if (m_ended || m_stopped)
        return;
    m_stopped = true;
    m_stop = true;
    m_pending.clear();
    QMetaObject::invokeMethod(
        this, [this] { end(); }, Qt::QueuedConnection);
}

// On the sweep's thread: every outcome and text is queued to this object's thread.
void TPingSweep::sweepOnThread(std::uint64_t count)
{
    const std::vector<unsigned char> data = TICMP::RequestData(m_settings.size);
    TIpOptionInfo options {};
    options.Ttl = static_cast<std::uint8_t>(m_settings.ttl);
    options.Flags = static_cast<std::uint8_t>(m_settings.flags);
    const std::uint32_t first = m_settings.first.value;
    m_sweep->run(
        count, [first](std::uint64_t i) { return THostAddr {static_cast<std::uint32_t>(first + i)}.net().value; },
        data.data(), static_cast<std::uint16_t>(data.size()), &options,
        static_cast<std::uint32_t>(m_settings.timeoutMs),
        [this](std::uint64_t i, const TIcmpEchoReply& reply, std::uint32_t replies) {
            // Outcomes can come faster than the list takes them (every echo failing at once): hold
            // the sweep rather than queue millions.
            while (m_inFlight.load() > 4096 && !m_stop)
                QThread::msleep(1);
            ++m_inFlight;
            QMetaObject::invokeMethod(
                this, [this, i, reply, replies] { result(i, reply, replies); }, Qt::QueuedConnection);
        },
        [this](const std::string& text) {
            const QString t = QString::fromLocal8Bit(text.c_str());
            QMetaObject::invokeMethod(
                this,
                [this, t] {
                    if (!m_stopped && OnDisplay)
                        OnDisplay(t);
                },
                Qt::QueuedConnection);
        },
        &m_stop);
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_sent = true;
            flush();
        },
        Qt::QueuedConnection);
}

void TPingSweep::result(std::uint64_t index, const TIcmpEchoReply& reply, std::uint32_t replies)
{
    --m_inFlight;
    if (m_stopped)
        return;
    TPending p;
    p.replies = replies;
    p.row.address = dotted(THostAddr {static_cast<std::uint32_t>(m_settings.first.value + index)});
    p.row.received = replies != 0;
    p.row.ipStatus = reply.Status;
    p.row.dataSize = reply.DataSize;
    p.row.roundTripTime = reply.RoundTripTime;
    if (p.row.received && m_settings.resolve) {
        // Lookups side by side; the rows still come out in address order.
        p.named = false;
        const QString ip = p.row.address;
        m_lookups.start([this, index, ip] {
            const QString name = ip_text_to_host_name(ip);
            QMetaObject::invokeMethod(
                this, [this, index, name] { named(index, name); }, Qt::QueuedConnection);
        });
    }
    m_pending.push_back(std::move(p));
    flush();
}

void TPingSweep::named(std::uint64_t index, const QString& name)
{
    if (m_stopped || index < m_base || index - m_base >= m_pending.size())
        return;
    TPending& p = m_pending[static_cast<std::size_t>(index - m_base)];
    p.named = true;
    p.name = name;
    flush();
}

void TPingSweep::flush()
{
    while (!m_stopped && !m_pending.empty() && m_pending.front().named) {
        TPending p = std::move(m_pending.front());
        m_pending.pop_front();
        ++m_base;
        std::function<QString(const QString&)> resolve;
        if (m_settings.resolve)
            resolve = [&p](const QString&) { return p.name; };
        p.row.texts
            = PingRowTexts(p.row.address, p.replies, p.row.ipStatus, p.row.dataSize, p.row.roundTripTime, resolve);
        if (OnRow)
            OnRow(std::move(p.row));
    }
    if (m_stopped || !m_sent || !m_pending.empty())
        return;
    if (m_skipsBroadcast && OnDisplay)
        OnDisplay(QStringLiteral("Invalid host address"));
    end();
}

void TPingSweep::end()
{
    if (m_ended)
        return;
    m_ended = true;
    if (OnEnd)
        OnEnd();
}
