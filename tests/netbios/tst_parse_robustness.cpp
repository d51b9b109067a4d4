// parse_response over a million mutated and random datagrams, seeded from real nmbd answers.
//
// The answers are captured here from nmbd peers in private network namespaces; the copies committed
// under seeds/ (made by this test with CORVANE_SEED_OUT=dir) keep the mutation part running where
// nmbd or root is missing. Every datagram is parsed from a heap copy of exactly its size, so the
// sanitizer build catches any read past it; ParseChecks.h says what each result must hold.
#include "NameTables.h"
#include "NmbdLan.h"
#include "ParseChecks.h"

#include "netbios/netBios_procs.h"
#include "platform/Ipv4.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>

using corvane::test::LanHost;
using corvane::test::LanPlan;
using corvane::test::NetnsLab;
using corvane::test::nmblookupTables;

namespace {

constexpr int kDatagrams = 1'000'000;
constexpr int kReceiveBuffer = 1024; // what the scan thread receives into
constexpr std::uint64_t kDefaultPrngSeed = 0x4E42'5354'4154'0137ull;

struct Seed
{
    QString origin;
    QByteArray bytes;
};

// Three name tables of different sizes: a bare host, one with 15-character names, one with as many
// aliases as still fit (nmbd answers with about 25 names at most; more are left out).
const LanPlan& plan()
{
    static const LanPlan lan{"scan", "10.77.30.2",
                             {{"nb1", "10.77.30.11", "SEEDONE", "SEEDGROUP"},
                              {"nb2", "10.77.30.12", "FIFTEENCHARSEED", "WORKGROUPOF15CH", {"FILES", "PRINTERS"}},
                              {"nb3", "10.77.30.13", "MANYNAMES", "BIGTABLE",
                               {"ALIAS01", "ALIAS02", "ALIAS03", "ALIAS04", "ALIAS05", "ALIAS06"}}}};
    return lan;
}

// One node-status exchange from the calling thread's namespace; empty when nothing came back.
QByteArray queryOnce(std::uint32_t address, std::uint16_t tid)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    QByteArray answer;
    for (int attempt = 0; attempt < 3 && answer.isEmpty(); ++attempt) {
        if (send_status_query(fd, address, tid) != 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        while (::poll(&pfd, 1, 2000) == 1) {
            char buf[4096];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t got = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (got >= 2 && from.sin_addr.s_addr == address && from.sin_port == htons(137)
                && read_net_u16(buf) == tid) {
                answer = QByteArray(buf, static_cast<int>(got));
                break;
            }
        }
    }
    ::close(fd);
    return answer;
}

struct Tally
{
    long long total = 0;
    long long byKind[9] = {};
    long long noHeader = 0, headerOnly = 0, table = 0, stats = 0, whole = 0;
};

const char* const kKindNames[9] = {"truncation", "name count", "bit flip",  "byte change", "extension",
                                   "garbage",    "real header", "splice",   "seed"};

// Parses an exactly sized heap copy (at an odd address when asked), checks and releases the result.
bool parseAndCheck(const QByteArray& d, bool odd, int kind, Tally& t, QString& failure)
{
    const std::size_t skew = odd ? 1 : 0;
    const auto size = static_cast<std::size_t>(d.size());
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size + skew]);
    if (size)
        std::memcpy(copy.get() + skew, d.constData(), size);
    const std::uint8_t* at = copy.get() + skew;
    nb_status_result* r = parse_response(at, static_cast<std::int32_t>(size));
    const std::string why = corvane::test::check_parse_result(at, static_cast<std::int32_t>(size), r);
    ++t.total;
    ++t.byKind[kind];
    if (r) {
        if (!r->status_header)
            ++t.noHeader;
        else if (!r->name_table && !r->adapter_stats)
            ++t.headerOnly;
        if (r->name_table)
            ++t.table;
        if (r->adapter_stats)
            ++t.stats;
        if (r->adapter_stats && r->parsed_length == 57 + 18 * r->status_header->name_count + 50)
            ++t.whole;
    }
    release_result(r);
    if (why.empty())
        return true;
    failure = QStringLiteral("%1 datagram of %2 bytes: %3\n%4")
                  .arg(QLatin1String(kKindNames[kind]))
                  .arg(d.size())
                  .arg(QString::fromStdString(why), QString::fromLatin1(d.toHex()));
    return false;
}

} // namespace

class TestParseRobustness : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QDir dir(QStringLiteral(CORVANE_SEED_DIR));
        for (const QString& file : dir.entryList({QStringLiteral("*.bin")}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(file));
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
            m_seeds.push_back({file, f.readAll()});
        }
    }

    void committedSeedsAreWholeAnswers()
    {
        QVERIFY2(m_seeds.size() >= 3, "seed files missing");
        for (const Seed& s : m_seeds) {
            QVERIFY2(s.bytes.size() < kReceiveBuffer, qPrintable(s.origin));
            const std::unique_ptr<nb_status_result, decltype(&release_result)> r(
                parse_response(s.bytes.constData(), static_cast<std::int32_t>(s.bytes.size())), &release_result);
            QVERIFY(r);
            QVERIFY2(r->name_table && r->adapter_stats, qPrintable(s.origin));
            QVERIFY2(r->status_header->name_count >= 4, qPrintable(s.origin));
        }
    }

    void nmbdAnswersAreCaptured()
    {
        NetnsLab lab;
        CORVANE_BUILD_NMBD_LAN(lab, plan());
        const auto samba = nmblookupTables(lab, plan());

        const QString out = qEnvironmentVariable("CORVANE_SEED_OUT");
        NetnsLab::ScopedEnter in(lab, plan().scanner);
        QVERIFY(in.ok());
        std::uint16_t tid = 0x7301;
        for (const LanHost& p : plan().hosts) {
            const QByteArray answer = queryOnce(corvane::ipv4::inet_addr_value(p.address).value, tid++);
            QVERIFY2(!answer.isEmpty(), qPrintable(p.host));
            // A real answer: Samba's own reading of the table matches ours, and the statistics follow it.
            const std::unique_ptr<nb_status_result, decltype(&release_result)> r(
                parse_response(answer.constData(), static_cast<std::int32_t>(answer.size())), &release_result);
            QVERIFY(r && r->status_header && r->adapter_stats);
            QCOMPARE(corvane::test::name_table_of(r.get()), samba.at(p.address));
            qInfo("%s: %d bytes, %d names, parsed %d", qPrintable(p.host), int(answer.size()), r->status_header->name_count,
                  r->parsed_length);
            m_seeds.push_back({QStringLiteral("nmbd ") + p.host, answer});
            if (!out.isEmpty()) {
                QFile f(QDir(out).filePath(QStringLiteral("nmbd_%1.bin").arg(p.host)));
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(answer) == answer.size());
            }
        }
    }

    void mutatedDatagramsKeepTheInvariants()
    {
        QVERIFY2(m_seeds.size() >= 3, "no seeds");
        bool given = false;
        const std::uint64_t prngSeed = qEnvironmentVariable("CORVANE_PARSE_SEED").toULongLong(&given, 0);
        std::mt19937_64 rng(given ? prngSeed : kDefaultPrngSeed);
        qInfo("PRNG seed 0x%llx (CORVANE_PARSE_SEED=... to run another), %d seeds",
              static_cast<unsigned long long>(given ? prngSeed : kDefaultPrngSeed), int(m_seeds.size()));
        const auto below = [&rng](long long n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
        const auto randomBytes = [&](int n) {
            QByteArray b(n, Qt::Uninitialized);
            for (int i = 0; i < n; i += 8) {
                const std::uint64_t v = rng();
                for (int k = 0; k < 8 && i + k < n; ++k)
                    b[i + k] = static_cast<char>(v >> (8 * k));
            }
            return b;
        };
        const auto anySeed = [&]() -> const QByteArray& { return m_seeds[static_cast<std::size_t>(below(m_seeds.size()))].bytes; };

        Tally t;
        QString failure;
        QElapsedTimer clock;
        clock.start();
        const auto check = [&](const QByteArray& d, int kind) { return parseAndCheck(d, rng() & 1, kind, t, failure); };

        // Every truncation, every name count and every single bit of each seed.
        for (const Seed& s : m_seeds) {
            const QByteArray& b = s.bytes;
            if (!check(b, 8))
                QFAIL(qPrintable(failure));
            for (int len = 0; len <= b.size(); ++len)
                if (!check(b.left(len), 0))
                    QFAIL(qPrintable(failure));
            for (int count = 0; count < 256; ++count) {
                QByteArray d = b;
                d[56] = static_cast<char>(count);
                if (!check(d, 1) || !check(d.left(below(d.size() + 1)), 1))
                    QFAIL(qPrintable(failure));
            }
            for (int bit = 0; bit < 8 * b.size(); ++bit) {
                QByteArray d = b;
                d[bit / 8] = static_cast<char>(d[bit / 8] ^ (1 << (bit % 8)));
                if (!check(d, 2))
                    QFAIL(qPrintable(failure));
            }
        }
        const long long systematic = t.total;

        static const char interesting[] = {'\0', '\x01', '\x7F', '\x80', '\xFE', '\xFF', '\x35', '\x36'};
        while (t.total < kDatagrams) {
            const int kind = below(8);
            QByteArray d;
            switch (kind) {
            case 0: // a mutated seed, cut anywhere
                d = anySeed();
                d[below(d.size())] = static_cast<char>(rng());
                d.truncate(below(d.size() + 1));
                break;
            case 1: // another name count, then cut or extended
                d = anySeed();
                d[56] = static_cast<char>(rng());
                if (rng() & 1)
                    d.truncate(below(d.size() + 1));
                else
                    d += randomBytes(below(kReceiveBuffer - d.size() + 1));
                break;
            case 2:
                d = anySeed();
                for (int k = 1 + below(8); k > 0; --k) {
                    const int bit = below(8LL * d.size());
                    d[bit / 8] = static_cast<char>(d[bit / 8] ^ (1 << (bit % 8)));
                }
                break;
            case 3:
                d = anySeed();
                for (int k = 1 + below(8); k > 0; --k)
                    d[below(d.size())] = (rng() & 1) ? interesting[below(sizeof interesting)] : static_cast<char>(rng());
                break;
            case 4: // up to the receive buffer
                d = anySeed();
                d += randomBytes(below(kReceiveBuffer - d.size() + 1));
                break;
            case 5:
                d = randomBytes(below(kReceiveBuffer + 1));
                break;
            case 6: { // a real header with a name count of its own and anything after it
                d = anySeed().left(56) + randomBytes(1 + below(kReceiveBuffer - 56));
                break;
            }
            case 7: { // the head of one answer, the tail of another
                const QByteArray& a = anySeed();
                const QByteArray& b = anySeed();
                d = a.left(below(a.size() + 1)) + b.mid(below(b.size() + 1));
                d.truncate(kReceiveBuffer);
                break;
            }
            }
            if (!check(d, kind))
                QFAIL(qPrintable(failure));
        }
        const qint64 ms = clock.elapsed();
        qInfo("%lld datagrams (%lld systematic) in %lld ms, %.0f per second", t.total, systematic,
              static_cast<long long>(ms), ms > 0 ? 1000.0 * double(t.total) / double(ms) : 0.0);
        for (int k = 0; k < 9; ++k)
            qInfo("  %-12s %lld", kKindNames[k], t.byKind[k]);
        qInfo("  results: %lld without header, %lld header only, %lld with table, %lld with statistics, %lld whole",
              t.noHeader, t.headerOnly, t.table, t.stats, t.whole);
        // The mutations must reach every stage of the parser, not only its first fields.
        QVERIFY(t.noHeader > 1000);
        QVERIFY(t.headerOnly > 1000);
        QVERIFY(t.table > 1000);
        QVERIFY(t.stats > 1000);
        QVERIFY(t.whole > 1000);
    }

private:
    std::vector<Seed> m_seeds;
};

QTEST_GUILESS_MAIN(TestParseRobustness)
#include "tst_parse_robustness.moc"
