#include "tools/ScanRunner.h"

#include "discovery/DeviceRows.h"
#include "discovery/DeviceSurvey.h"
#include "icmp/Ping.h"
#include "inventory/Inventory.h"
#include "tools/InventoryOutput.h"
#include "netbios/nbtscan.h"
#include "platform/IcmpSweep.h"
#include "platform/Neighbour.h"
#include "support/My_net_tcpip.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QThread>
#include <QThreadPool>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace corvane::scan {

namespace {

int g_signalPipe[2] = {-1, -1};
std::atomic<int> g_signals {0};

void on_signal(int)
{
    if (g_signals.fetch_add(1) > 0)
        ::_exit(kExitSecondSignal);
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// False with errno set when the bytes could not all be written.
bool write_all(std::FILE* to, const QByteArray& bytes)
{
    const std::size_t n = static_cast<std::size_t>(bytes.size());
    const bool written = std::fwrite(bytes.constData(), 1, n, to) == n;
    return std::fflush(to) == 0 && written;
}

// Whether some address of the ranges (ascending, disjoint) has a route: one lookup per stretch
// between route boundaries, so a /8 costs no more than one address. True when the tables cannot be read.
bool some_address_routed(const std::vector<TAddressRange>& ranges)
{
    const std::optional<std::vector<std::uint32_t>> points = corvane::platform::route_boundaries();
    if (!points || points->empty())
        return true;
    corvane::platform::route_oracle oracle;
    std::optional<std::size_t> asked;
    for (const TAddressRange& r : ranges) {
        auto stretch = static_cast<std::size_t>(std::upper_bound(points->begin(), points->end(), r.first.value)
                                                - points->begin() - 1);
        for (std::uint32_t at = r.first.value;; at = (*points)[++stretch]) {
            if (asked != stretch) {
                asked = stretch;
                if (oracle.route(ipv4::THostAddr {at}.net().value).kind != corvane::platform::route_kind::unreachable)
                    return true;
            }
            if (stretch + 1 >= points->size() || (*points)[stretch + 1] > r.last.value)
                break;
        }
    }
    return false;
}

} // namespace

// --- TSignalPipe

TSignalPipe::TSignalPipe(QObject* parent)
    : QObject(parent)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_signals = 0;
    struct sigaction sa
    {
    };
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) { }
        Q_EMIT interrupted();
    });
}

TSignalPipe::~TSignalPipe()
{
    struct sigaction sa
    {
    };
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    delete m_notifier;
    for (int& fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

// --- TProgressLine

TProgressLine::TProgressLine(std::function<QString()> text, std::function<double()> fraction, QObject* parent)
    : QObject(parent)
    , m_text(std::move(text))
    , m_fraction(std::move(fraction))
    , m_enabled(enabledFor(STDERR_FILENO))
{
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &TProgressLine::draw);
}

bool TProgressLine::enabledFor(int fd)
{
    return ::isatty(fd) == 1;
}

void TProgressLine::start()
{
    m_clock.start();
    m_running = true;
    if (!m_enabled)
        return;
    m_timer.start();
    draw();
}

QString TProgressLine::elapsedText() const
{
    const qint64 s = m_clock.isValid() ? m_clock.elapsed() / 1000 : 0;
    if (s >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return QString::asprintf("%lld:%02lld", s / 60, s % 60);
}

void TProgressLine::draw()
{
    if (!m_enabled || !m_running)
        return;
    constexpr int width = 24;
    const double f = std::clamp(m_fraction(), 0.0, 1.0);
    const int filled = static_cast<int>(f * width);
    const QString line = u'[' + QString(filled, u'#') + QString(width - filled, u'-') + QStringLiteral("] ") + m_text();
    // Blanks over the rest of a longer line drawn before.
    const QString padding(std::max<qsizetype>(0, m_shown - line.size()), u' ');
    write_all(stderr, (u'\r' + line + padding).toUtf8());
    m_shown = line.size();
}

void TProgressLine::clear()
{
    if (!m_enabled || m_shown == 0)
        return;
    write_all(stderr, (u'\r' + QString(m_shown, u' ') + u'\r').toUtf8());
    m_shown = 0;
}

void TProgressLine::stop()
{
    m_timer.stop();
    clear();
    m_running = false;
}

// --- TScanRunner

TScanRunner::TScanRunner(const TScanOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{ }

TScanRunner::~TScanRunner()
{
    // Ended before the sweep did: let it see the stop and wait out the echoes in flight.
    m_sweepStop = true;
    if (m_sweepThread)
        m_sweepThread->wait();
}

void TScanRunner::errorLine(const QString& text)
{
    if (m_progress)
        m_progress->clear();
    write_all(stderr, (QStringLiteral("corvane-scan: ") + text + u'\n').toUtf8());
    if (m_progress)
        m_progress->draw();
}

void TScanRunner::writeOut(const QByteArray& bytes)
{
    // Both may share one terminal: keep the progress line off the data.
    if (m_progress)
        m_progress->clear();
    if (!write_all(stdout, bytes) && m_writeError == 0)
        m_writeError = errno ? errno : EIO;
    if (m_progress)
        m_progress->draw();
}

void TScanRunner::finish(int status)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_progress)
        m_progress->stop();
    // Results that did not reach their file (a full disk, a closed pipe) are no successful survey.
    if (m_writeError != 0 && status == kExitScanRan) {
        errorLine(QStringLiteral("cannot write the results: ") + QString::fromLocal8Bit(std::strerror(m_writeError)));
        status = kExitCannotStart;
    }
    Q_EMIT finished(status);
}

std::optional<int> TScanRunner::resolveRanges()
{
    m_ranges = m_options.ranges;
    if (m_ranges.empty()) {
        const TLocalLan lan = local_lan();
        const std::optional<TAddressRange> local = local_scan_range(lan);
        if (!local) {
            errorLine(QStringLiteral("no interface carries the local address %1; give a RANGE")
                          .arg(ipv4::dotted(ipv4::TNetAddr {lan.address})));
            return kExitCannotStart;
        }
        // A flat /8 takes hours, and is seldom meant: such a survey is asked for by name.
        if (const QString e = local_range_error(*local); !e.isEmpty()) {
            errorLine(e);
            return kExitBadUsage;
        }
        if (m_options.command == TCommand::Nbstat)
            if (const QString e = nbstat_range_error(*local); !e.isEmpty()) {
                errorLine(e);
                return kExitCannotStart;
            }
        m_ranges = {*local};
    }
    for (const TAddressRange& r : m_ranges) {
        m_rangeStarts.push_back(m_total);
        m_total += r.count();
    }
    return std::nullopt;
}

ipv4::THostAddr TScanRunner::addressAt(std::uint64_t index) const
{
    // The last range that starts at or before index holds it.
    const auto after = std::upper_bound(m_rangeStarts.begin(), m_rangeStarts.end(), index);
    const auto i = static_cast<std::size_t>(after - m_rangeStarts.begin() - 1);
    return ipv4::THostAddr {m_ranges[i].first.value + static_cast<std::uint32_t>(index - m_rangeStarts[i])};
}

void TScanRunner::setInventory(corvane::inventory::TInventory* inventory)
{
    m_inventory = inventory;
}

void TScanRunner::start()
{
    if (m_options.command == TCommand::Devices) {
        listInventory();
        return;
    }
    m_surveyTime = QDateTime::currentDateTimeUtc();
    if (!m_options.compareFile.isEmpty()) {
        corvane::THostListFile before = corvane::read_host_list_file(m_options.compareFile);
        if (!before.rows) {
            errorLine(before.error);
            finish(kExitBadUsage);
            return;
        }
        m_before = std::move(before.rows);
    }
    if (const std::optional<int> status = resolveRanges()) {
        finish(*status);
        return;
    }
    if (m_options.command == TCommand::Nbstat)
        startNbstat();
    else if (m_options.command == TCommand::Discover || m_options.command == TCommand::Watch)
        startDiscover();
    else
        startPing();
}

void TScanRunner::stop()
{
    if (m_stopRequested || m_finished)
        return;
    m_stopRequested = true;
    // The scan ends at the next return of its wait; its end event prints what it found.
    if (m_scan)
        m_scan->Terminate();
    if (m_survey)
        m_survey->stop();
    // The sweep sends no more and waits for the echoes already out.
    m_sweepStop = true;
}

void TScanRunner::startNbstat()
{
    // Otherwise every address would fail on its own, one line each, and the survey read as an empty LAN.
    if (!some_address_routed(m_ranges)) {
        errorLine(m_ranges.size() == 1 ? QStringLiteral("no route to any address of %1-%2; nothing was queried")
                                             .arg(ipv4::dotted(m_ranges.front().first), ipv4::dotted(m_ranges.front().last))
                                       : QStringLiteral("no route to any address of the %1 ranges; nothing was queried")
                                             .arg(m_ranges.size()));
        finish(kExitCannotStart);
        return;
    }

    m_progress = std::make_unique<TProgressLine>(
        [this] {
            return QStringLiteral("%1/%2 queried, %3 found, %4")
                .arg(m_scan ? m_scan->QueriesSent() : 0)
                .arg(m_total)
                .arg(m_hosts.size())
                .arg(m_progress->elapsedText());
        },
        [this] { return m_scan ? double(m_scan->QueriesSent()) / double(m_total) : 0.0; });

    m_scan = std::make_unique<TNBTscanThread>();
    // One RANGE (or the local subnet) walks as the window walks; several walk their union.
    if (m_options.rangeCount > 1) {
        m_scan->Targets = m_ranges;
    } else {
        m_scan->StartIP = ipv4::dotted(m_ranges.front().first);
        m_scan->EndIP = ipv4::dotted(m_ranges.front().last);
    }
    m_scan->Retries = m_options.retries;
    m_scan->Rate = m_options.rate;
    m_scan->UsePort137 = m_options.port137;
    m_scan->FreeResults = false;
    m_scan->Bandwidth = m_options.bandwidth;
    // Hosts that report a zero adapter address (Samba) are looked up in the neighbour table, read on
    // the cache's thread; the cache lives as long as the scan's events.
    const auto neighbours = std::make_shared<corvane::TNeighbourCache>();
    m_scan->OnReceive = [this, neighbours](TNBTscanThread*, const QString& ip, nb_status_result* result) {
        const std::size_t i = m_hosts.size();
        const bool zero = corvane::reports_zero_mac(result);
        m_hosts.push_back({ip, TResultPtr(result), {}, {}});
        m_vendorMacs.push_back(zero ? std::nullopt : corvane::reported_mac(result));
        // Now, while the exchange has just refreshed the host's entry.
        if (zero)
            neighbours->request(ip, this, [this, i](const std::optional<corvane::TMacAddress>& mac) {
                m_hosts[i].neighbour = mac;
                m_vendorMacs[i] = mac;
            });
    };
    m_scan->OnError = [this](TNBTscanThread*, const QString& line) { errorLine(line); };
    // The output waits for the addresses still being read.
    m_scan->OnTerminate = [this, neighbours](TNBTscanThread*) { neighbours->flush(this, [this] { nbstatDone(); }); };
    m_vendors.load();
    m_progress->start();
    m_scan->Resume();
    if (m_stopRequested) // interrupted before the scan began
        m_scan->Terminate();
}

void TScanRunner::nbstatDone()
{
    m_progress->stop();
    if (m_scan->SetupFailure() != TScanSetupFailure::None) {
        finish(kExitCannotStart);
        return;
    }
    if (const std::shared_ptr<const corvane::TVendorTable> vendors = m_vendors.wait())
        for (std::size_t i = 0; i < m_hosts.size(); ++i)
            if (m_vendorMacs[i])
                m_hosts[i].vendor = vendors->vendor(*m_vendorMacs[i]);
    std::unique_ptr<TComparedWith> compared;
    if (m_before) {
        compared.reset(new TComparedWith {m_options.compareFile,
                                          corvane::compare_host_lists(*m_before, network_list_rows(m_hosts))});
        // Each host gets its mark; the gone hosts follow the ones that answered.
        QList<TFoundHost*> found;
        for (TFoundHost& h : m_hosts)
            found << &h;
        for (TFoundHost& gone : corvane::mark_comparison(found, compared->comparison))
            m_hosts.push_back(std::move(gone));
    }
    switch (m_options.format) {
    case TFormat::Txt:
        writeOut(nbstat_txt(m_hosts, m_options.names, compared.get()));
        break;
    case TFormat::Csv:
        writeOut(nbstat_csv(m_hosts, compared != nullptr));
        break;
    case TFormat::Json:
        writeOut(nbstat_json(m_hosts, compared != nullptr));
        break;
    }
    std::vector<corvane::discovery::TDevice> devices;
    if (!m_options.dbUrl.isEmpty())
        for (std::size_t i = 0; i < m_hosts.size(); ++i) {
            const TFoundHost& h = m_hosts[i];
            const std::optional<ipv4::THostAddr> address = ipv4::parse_strict(h.ip());
            if (h.gone() || !address || !h.result())
                continue;
            // The rows own the answers and outlive the recording.
            const std::shared_ptr<const nb_status_result> result(std::shared_ptr<void>(), h.result());
            devices.push_back(corvane::discovery::node_status_device(*address, result, h.neighbour, h.vendor));
        }
    finish(recordSurvey(devices));
}

void TScanRunner::startDiscover()
{
    corvane::discovery::TDeviceSurveyOptions o;
    o.targets = m_ranges;
    o.rate = m_options.rate;
    o.timeoutMs = m_options.timeoutMs;
    m_survey = std::make_unique<corvane::discovery::TDeviceSurvey>(std::move(o));
    m_progress = std::make_unique<TProgressLine>(
        [this] {
            return QStringLiteral("%1/%2 asked, %3 found, %4")
                .arg(m_survey->asked())
                .arg(m_total)
                .arg(m_survey->devices().size())
                .arg(m_progress->elapsedText());
        },
        [this] { return double(m_survey->asked()) / double(m_total); });
    connect(m_survey.get(), &corvane::discovery::TDeviceSurvey::errorLine, this, &TScanRunner::errorLine);
    connect(m_survey.get(), &corvane::discovery::TDeviceSurvey::finished, this, &TScanRunner::discoverDone);
    m_progress->start();
    m_survey->start();
    if (m_stopRequested)
        m_survey->stop();
}

void TScanRunner::discoverDone()
{
    m_progress->stop();
    if (m_survey->cannotStart()) {
        finish(kExitCannotStart);
        return;
    }
    if (m_options.command == TCommand::Watch) {
        finish(recordSurvey(m_survey->devices()));
        return;
    }
    QList<const corvane::discovery::TDevice*> list;
    for (const corvane::discovery::TDevice& d : m_survey->devices())
        list << &d;
    switch (m_options.format) {
    case TFormat::Txt:
        writeOut(corvane::discovery::device_list_txt(list));
        break;
    case TFormat::Csv:
        writeOut(corvane::discovery::device_list_csv(list));
        break;
    case TFormat::Json:
        writeOut(corvane::discovery::device_list_json(list));
        break;
    }
    finish(recordSurvey(m_survey->devices()));
}

int TScanRunner::recordSurvey(const std::vector<corvane::discovery::TDevice>& devices)
{
    const bool watch = m_options.command == TCommand::Watch;
    if (!watch && m_options.dbUrl.isEmpty())
        return kExitScanRan;
    // A stopped survey missed devices it never asked: recorded, it would make them gone.
    if (m_stopRequested) {
        if (!watch)
            errorLine(QStringLiteral("the survey was stopped; the inventory was not updated"));
        return kExitScanRan;
    }
    corvane::inventory::TInventoryOptions o;
    o.goneAfter = m_options.goneAfter;
    std::unique_ptr<corvane::inventory::TInventory> own;
    corvane::inventory::TInventory* inventory = m_inventory;
    if (!inventory) {
        own = std::make_unique<corvane::inventory::TInventory>(o);
        inventory = own.get();
    }
    QString why;
    if (!inventory->isOpen())
        why = inventory->open(m_options.dbUrl);
    corvane::inventory::TRecordResult recorded;
    if (why.isEmpty()) {
        const QString scanner = m_options.site.isEmpty() ? QSysInfo::machineHostName() : m_options.site;
        recorded = inventory->record({m_surveyTime, m_ranges, scanner, devices});
        why = recorded.error;
    }
    if (!why.isEmpty()) {
        // The inventory's own line names it already; one form either way.
        const QString named = QStringLiteral("the inventory %1 was not updated: ").arg(inventory->url());
        if (why.startsWith(named))
            why = inventory->url() + QStringLiteral(": ") + why.mid(named.size());
        // libpq explains over several lines; the message stays one.
        errorLine(QStringLiteral("the inventory was not updated: ") + why.simplified());
        return kExitNotRecorded;
    }
    if (watch)
        for (const corvane::inventory::TEvent& e : recorded.events)
            writeOut(corvane::inventory::event_json(e) + '\n');
    return kExitScanRan;
}

void TScanRunner::listInventory()
{
    // Listing makes no file: an inventory never recorded into is an empty one.
    const std::optional<corvane::inventory::TDbUrl> url
        = corvane::inventory::parse_db_url(m_options.dbUrl.isEmpty() ? corvane::inventory::default_url() : m_options.dbUrl);
    if (url && url->kind == corvane::inventory::TDbUrl::SQLite && !QFileInfo::exists(url->path)) {
        writeOut(m_options.format == TFormat::Txt   ? inventory_devices_txt({})
                 : m_options.format == TFormat::Csv ? inventory_devices_csv({})
                                                    : inventory_devices_json({}));
        finish(kExitScanRan);
        return;
    }
    corvane::inventory::TInventory inventory;
    QString why = inventory.open(m_options.dbUrl);
    std::optional<std::vector<corvane::inventory::TInventoryDevice>> devices;
    if (why.isEmpty())
        devices = inventory.devices(&why);
    if (!devices) {
        errorLine(QStringLiteral("cannot read the inventory: ") + why.simplified());
        finish(kExitCannotStart);
        return;
    }
    switch (m_options.format) {
    case TFormat::Txt:
        writeOut(inventory_devices_txt(*devices));
        break;
    case TFormat::Csv:
        writeOut(inventory_devices_csv(*devices));
        break;
    case TFormat::Json:
        writeOut(inventory_devices_json(*devices));
        break;
    }
    finish(kExitScanRan);
}

void TScanRunner::startPing()
{
    if (!m_options.serial) {
        startSweep();
        return;
    }
    try {
        m_ping = std::make_unique<TPing>();
    } catch (const std::exception& e) {
        errorLine(QString::fromLocal8Bit(e.what()));
        finish(kExitCannotStart);
        return;
    }
    m_ping->SetTimeout(m_options.timeoutMs);
    m_ping->OnEchoReply = [this](QObject*, TICMP*, std::int32_t replies) { pingReply(replies); };
    // The engine says why an echo could not even be tried; once per distinct text, not per address.
    m_ping->OnDisplay = [this](QObject*, TICMP*, const QString& msg) {
        if (m_displayed.contains(msg))
            return;
        m_displayed.insert(msg);
        errorLine(msg);
    };
    m_progress = std::make_unique<TProgressLine>(
        [this] {
            return QStringLiteral("%1/%2 pinged, %3 answered, %4")
                .arg(m_pinged)
                .arg(m_total)
                .arg(m_answered)
                .arg(m_progress->elapsedText());
        },
        [this] { return double(m_pinged) / double(m_total); });
    if (m_options.format == TFormat::Txt)
        writeOut(ping_txt_heading());
    else if (m_options.format == TFormat::Csv)
        writeOut(ping_csv_heading());
    m_progress->start();
    QTimer::singleShot(0, this, &TScanRunner::pingStep);
}

void TScanRunner::pingStep()
{
    if (m_stopRequested) {
        pingDone();
        return;
    }
    m_ping->SetAddress(ipv4::dotted(addressAt(m_pinged)));
    try {
        m_ping->Ping();
    } catch (const std::exception& e) {
        errorLine(QString::fromLocal8Bit(e.what()));
        finish(kExitCannotStart);
        return;
    }
    ++m_pinged;
    if (m_pinged == m_total) {
        pingDone();
        return;
    }
    QTimer::singleShot(0, this, &TScanRunner::pingStep);
}

void TScanRunner::pingReply(std::int32_t replies)
{
    const TIcmpEchoReply reply = m_ping->Reply();
    TPingResult row;
    row.address = m_ping->HostIP();
    row.received = replies != 0;
    row.ipStatus = reply.Status;
    row.dataSize = reply.DataSize;
    row.roundTripTime = reply.RoundTripTime;
    std::function<QString(const QString&)> resolve;
    if (m_options.resolve)
        resolve = [](const QString& ip) { return ip_text_to_host_name(ip); };
    row.texts = PingRowTexts(row.address, static_cast<std::uint32_t>(replies), reply.Status, reply.DataSize,
                             reply.RoundTripTime, resolve);
    if (row.received)
        ++m_answered;
    writePingRow(row);
}

void TScanRunner::writePingRow(const TPingResult& row)
{
    switch (m_options.format) {
    case TFormat::Txt:
        writeOut(ping_txt_line(row));
        break;
    case TFormat::Csv:
        writeOut(ping_csv_line(row));
        break;
    case TFormat::Json:
        m_pingRows.push_back(row);
        break;
    }
}

void TScanRunner::startSweep()
{
    m_sweep = std::make_unique<corvane::platform::icmp_sweep>();
    if (m_options.rate > 0)
        m_sweep->set_rate(m_options.rate);
    std::uint64_t count = m_total;
    // 255.255.255.255 is the engine's mark of an unresolved address: never pinged, no line.
    if (m_ranges.back().last == ipv4::kInetAddrNone.host()) {
        m_skipsBroadcast = true;
        --count;
    }
    m_progress = std::make_unique<TProgressLine>(
        [this] {
            return QStringLiteral("%1/%2 pinged, %3 answered, %4")
                .arg(m_sweep->sent())
                .arg(m_total)
                .arg(m_answered)
                .arg(m_progress->elapsedText());
        },
        [this] { return double(m_sweep->sent()) / double(m_total); });
    if (m_options.format == TFormat::Txt)
        writeOut(ping_txt_heading());
    else if (m_options.format == TFormat::Csv)
        writeOut(ping_csv_heading());
    if (m_options.resolve) {
        m_lookups = std::make_unique<QThreadPool>();
        m_lookups->setMaxThreadCount(16);
    }
    m_progress->start();
    if (count == 0) {
        m_sweepEnded = true;
        flushSweepRows();
        return;
    }

    const auto timeout = static_cast<std::uint32_t>(m_options.timeoutMs);
    m_sweepThread.reset(QThread::create([this, count, timeout] { sweepOnThread(count, timeout); }));
    m_sweepThread->start();
}

// On the sweep's own thread: outcomes, display texts and the end are queued to this object's thread.
void TScanRunner::sweepOnThread(std::uint64_t count, std::uint32_t timeout)
{
    // The window's echo: 56 bytes of data, TTL 64.
    const std::vector<unsigned char> data = TICMP::RequestData(56);
    TIpOptionInfo options {};
    options.Ttl = 64;
    m_sweep->run(
        count,
        [this](std::uint64_t i) { return addressAt(i).net().value; },
        data.data(), static_cast<std::uint16_t>(data.size()), &options, timeout,
        [this](std::uint64_t i, const TIcmpEchoReply& reply, std::uint32_t replies) {
            // Outcomes can come faster than stdout takes them (every echo failing at once, a
            // slow pipe): hold the sweep rather than queue millions.
            while (m_inFlight.load() > 4096 && !m_sweepStop)
                QThread::msleep(1);
            ++m_inFlight;
            QMetaObject::invokeMethod(
                this, [this, i, reply, replies] { sweepResult(i, reply, replies); }, Qt::QueuedConnection);
        },
        [this](const std::string& text) {
            const QString t = QString::fromLocal8Bit(text.c_str());
            QMetaObject::invokeMethod(this, [this, t] { sweepDisplay(t); }, Qt::QueuedConnection);
        },
        &m_sweepStop);
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_sweepEnded = true;
            flushSweepRows();
        },
        Qt::QueuedConnection);
}

void TScanRunner::sweepResult(std::uint64_t index, const TIcmpEchoReply& reply, std::uint32_t replies)
{
    --m_inFlight;
    TPendingRow p;
    p.replies = replies;
    p.row.address = ipv4::dotted(addressAt(index));
    p.row.received = replies != 0;
    p.row.ipStatus = reply.Status;
    p.row.dataSize = reply.DataSize;
    p.row.roundTripTime = reply.RoundTripTime;
    if (p.row.received)
        ++m_answered;
    if (p.row.received && m_lookups) {
        // Lookups side by side; the rows still come out in address order.
        p.named = false;
        const QString ip = p.row.address;
        m_lookups->start([this, index, ip] {
            const QString name = ip_text_to_host_name(ip);
            QMetaObject::invokeMethod(this, [this, index, name] { sweepNamed(index, name); }, Qt::QueuedConnection);
        });
    }
    m_pending.push_back(std::move(p));
    flushSweepRows();
}

void TScanRunner::sweepNamed(std::uint64_t index, const QString& name)
{
    if (index < m_pendingBase || index - m_pendingBase >= m_pending.size())
        return;
    TPendingRow& p = m_pending[static_cast<std::size_t>(index - m_pendingBase)];
    p.named = true;
    p.name = name;
    flushSweepRows();
}

void TScanRunner::sweepDisplay(const QString& text)
{
    if (m_displayed.contains(text))
        return;
    m_displayed.insert(text);
    errorLine(text);
}

void TScanRunner::flushSweepRows()
{
    while (!m_pending.empty() && m_pending.front().named) {
        TPendingRow& p = m_pending.front();
        std::function<QString(const QString&)> resolve;
        if (m_lookups)
            resolve = [&p](const QString&) { return p.name; };
        p.row.texts = PingRowTexts(p.row.address, p.replies, p.row.ipStatus, p.row.dataSize, p.row.roundTripTime,
                                   resolve);
        writePingRow(p.row);
        m_pending.pop_front();
        ++m_pendingBase;
    }
    if (!m_sweepEnded || !m_pending.empty() || m_finished)
        return;
    if (m_sweepThread)
        m_sweepThread->wait();
    if (m_skipsBroadcast && !m_sweepStop)
        sweepDisplay(QStringLiteral("Invalid host address"));
    pingDone();
}

void TScanRunner::pingDone()
{
    m_progress->stop();
    if (m_options.format == TFormat::Json)
        writeOut(ping_json(m_pingRows));
    finish(kExitScanRan);
}

} // namespace corvane::scan
