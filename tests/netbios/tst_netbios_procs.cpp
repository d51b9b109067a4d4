// The node-status query, the answer parser and the name-table decoders of netBios_procs.
#include "TestSupport.h"

#include "netbios/netBios_procs.h"
#include "platform/FdCloser.h"
#include "platform/Ipv4.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <clocale>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

QByteArray be16(std::uint16_t v)
{
    QByteArray b(2, '\0');
    b[0] = static_cast<char>(v >> 8);
    b[1] = static_cast<char>(v);
    return b;
}

QByteArray be32(std::uint32_t v)
{
    return be16(static_cast<std::uint16_t>(v >> 16)) + be16(static_cast<std::uint16_t>(v));
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b += static_cast<char>(v);
    return b;
}

// The encoded wildcard name as nodes send it back: 0x20, C K, thirty A, the closing zero.
QByteArray wildcardName()
{
    return QByteArray(1, 0x20) + "CK" + QByteArray(30, 'A') + QByteArray(1, '\0');
}

// Field values of answer(); each one differs from every other and from 0, most with the top bit set.
constexpr std::uint16_t kTid = 0xA1B2, kFlags = 0x8400, kQd = 0x0102, kAn = 0x0304, kNs = 0x0506, kAr = 0x0708;
constexpr std::uint16_t kType = 0x0021, kClass = 0x0001, kRdLength = 0xF00D;
constexpr std::uint32_t kTtl = 0x89ABCDEF;
const QByteArray kMac = bytes({0xC0, 0xFF, 0xEE, 0x01, 0x02, 0x03});
constexpr std::uint8_t kJumpers = 0x5A, kTestResult = 0xA5;
constexpr std::uint16_t kStats16[5] = {0x1112, 0x1314, 0x1516, 0x1718, 0x191A};
constexpr std::uint32_t kCounter32[2] = {0x81828384, 0x85868788};
constexpr std::uint16_t counter16(int i)
{
    return static_cast<std::uint16_t>(0x9000 + 0x0101 * i);
}

// A node-status answer: header, n name entries, the first statsBytes of the 50-byte statistics
// block, then trailing bytes.
QByteArray answer(int n, int statsBytes = 50, int trailing = 1, const QByteArray& rrName = wildcardName())
{
    Q_ASSERT(rrName.size() == 34);
    QByteArray a = be16(kTid) + be16(kFlags) + be16(kQd) + be16(kAn) + be16(kNs) + be16(kAr) + rrName + be16(kType)
        + be16(kClass) + be32(kTtl) + be16(kRdLength) + QByteArray(1, static_cast<char>(n));
    for (int i = 0; i < n; ++i) {
        a += QByteArray("ENTRY" + QByteArray::number(i)).leftJustified(15, ' ');
        a += static_cast<char>(i);                           // suffix
        a += static_cast<char>((i % 2 ? 0x84 : 0x64) | (i & 0x02)); // high flag byte
        a += static_cast<char>(0xFF - i);                    // low flag byte
    }
    QByteArray stats = kMac + QByteArray(1, static_cast<char>(kJumpers)) + QByteArray(1, static_cast<char>(kTestResult));
    for (std::uint16_t v : kStats16)
        stats += be16(v);
    stats += be32(kCounter32[0]) + be32(kCounter32[1]);
    for (int i = 0; i < 12; ++i)
        stats += be16(counter16(i));
    Q_ASSERT(stats.size() == 50);
    return a + stats.left(statsBytes) + QByteArray(trailing, static_cast<char>(0xEE));
}

// The header answer() gives when the first `fields` of its twelve fields were read.
nb_status_header expectedHeader(int fields, int n, const QByteArray& rrName)
{
    nb_status_header h{};
    int k = 0;
    const auto next = [&] { return k++ < fields; };
    if (next()) h.transaction_id = kTid;
    if (next()) h.header_flags = kFlags;
    if (next()) h.question_count = kQd;
    if (next()) h.answer_count = kAn;
    if (next()) h.authority_count = kNs;
    if (next()) h.additional_count = kAr;
    if (next()) std::memcpy(h.rr_name, rrName.constData(), static_cast<std::size_t>(rrName.size()));
    if (next()) h.rr_type = kType;
    if (next()) h.rr_class = kClass;
    if (next()) h.time_to_live = kTtl;
    if (next()) h.rdata_length = kRdLength;
    if (next()) h.name_count = static_cast<std::uint8_t>(n);
    return h;
}

// The statistics answer() gives when the first `fields` of its 22 fields were read.
nb_adapter_stats expectedStats(int fields)
{
    nb_adapter_stats s{};
    int k = 0;
    const auto next = [&] { return k++ < fields; };
    if (next()) std::memcpy(s.mac_address, kMac.constData(), 6);
    if (next()) s.jumpers = kJumpers;
    if (next()) s.test_result = kTestResult;
    if (next()) s.version_number = kStats16[0];
    if (next()) s.statistics_period = kStats16[1];
    if (next()) s.crc_count = kStats16[2];
    if (next()) s.alignment_errors = kStats16[3];
    if (next()) s.collisions = kStats16[4];
    for (int i = 0; i < 2; ++i)
        if (next()) s.counter32[i] = kCounter32[i];
    for (int i = 0; i < 12; ++i)
        if (next()) s.counter16[i] = counter16(i);
    return s;
}

void compareHeader(const nb_status_header& got, const nb_status_header& want)
{
    QCOMPARE(got.transaction_id, want.transaction_id);
    QCOMPARE(got.header_flags, want.header_flags);
    QCOMPARE(got.question_count, want.question_count);
    QCOMPARE(got.answer_count, want.answer_count);
    QCOMPARE(got.authority_count, want.authority_count);
    QCOMPARE(got.additional_count, want.additional_count);
    QCOMPARE(QByteArray(got.rr_name, sizeof got.rr_name).toHex(' '),
             QByteArray(want.rr_name, sizeof want.rr_name).toHex(' '));
    QCOMPARE(got.rr_type, want.rr_type);
    QCOMPARE(got.rr_class, want.rr_class);
    QCOMPARE(got.time_to_live, want.time_to_live);
    QCOMPARE(got.rdata_length, want.rdata_length);
    QCOMPARE(got.name_count, want.name_count);
}

void compareStats(const nb_adapter_stats& got, const nb_adapter_stats& want)
{
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.mac_address), 6).toHex(),
             QByteArray(reinterpret_cast<const char*>(want.mac_address), 6).toHex());
    QCOMPARE(got.jumpers, want.jumpers);
    QCOMPARE(got.test_result, want.test_result);
    QCOMPARE(got.version_number, want.version_number);
    QCOMPARE(got.statistics_period, want.statistics_period);
    QCOMPARE(got.crc_count, want.crc_count);
    QCOMPARE(got.alignment_errors, want.alignment_errors);
    QCOMPARE(got.collisions, want.collisions);
    QCOMPARE(got.counter32[0], want.counter32[0]);
    QCOMPARE(got.counter32[1], want.counter32[1]);
    for (int i = 0; i < 12; ++i)
        QVERIFY2(got.counter16[i] == want.counter16[i],
                 qPrintable(QStringLiteral("counter16[%1]: %2, want %3").arg(i).arg(got.counter16[i]).arg(want.counter16[i])));
}

// Owns one parse_response result.
using Result = std::unique_ptr<nb_status_result, decltype(&release_result)>;

// Parses a heap copy of exactly the datagram's size, at an odd address when `odd`, so the sanitizer
// build catches any read past the end and any aligned access.
Result parseCopy(const QByteArray& d, bool odd)
{
    const std::size_t skew = odd ? 1 : 0;
    auto copy = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(d.size()) + skew);
    std::memcpy(copy.get() + skew, d.constData(), static_cast<std::size_t>(d.size()));
    return Result(parse_response(copy.get() + skew, static_cast<std::int32_t>(d.size())), &release_result);
}

QByteArray statusQuery(std::uint16_t tid)
{
    std::uint8_t q[nb_query_length];
    build_status_query(tid, q);
    return QByteArray(reinterpret_cast<const char*>(q), nb_query_length);
}

using Fd = corvane::platform::fd_closer;

sockaddr_in loopback(const char* dotted, std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = corvane::ipv4::inet_addr_value(QLatin1String(dotted)).value;
    return a;
}

// The parser obtains its blocks with nothrow new; a test can make the one of a given size fail.
std::size_t g_failAllocationOf = 0;
static_assert(sizeof(nb_status_result) != sizeof(nb_status_header) && sizeof(nb_status_result) != sizeof(nb_adapter_stats)
                  && sizeof(nb_status_header) != sizeof(nb_adapter_stats) && 5 * sizeof(nb_name_entry) != sizeof(nb_status_header)
                  && 5 * sizeof(nb_name_entry) != sizeof(nb_adapter_stats) && 5 * sizeof(nb_name_entry) != sizeof(nb_status_result),
              "the blocks are told apart by size");

void* allocateUnlessFailed(std::size_t size, bool array) noexcept
{
    if (size == g_failAllocationOf)
        return nullptr;
    try {
        return array ? ::operator new[](size) : ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocateUnlessFailed(size, false);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocateUnlessFailed(size, true);
}

class TestNetBiosProcs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusQueryBytes_data()
    {
        QTest::addColumn<int>("tid");
        for (int tid : {0x0000, 0x0001, 0x00FF, 0x0100, 0x1234, 0x8000, 0xABCD, 0xFFFF})
            QTest::addRow("tid %04X", tid) << tid;
    }
    void statusQueryBytes()
    {
        QFETCH(int, tid);
        const QByteArray fixed = bytes({0x00, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x43, 0x4B})
            + QByteArray(30, 0x41) + bytes({0x00, 0x00, 0x21, 0x00, 0x01});
        const QByteArray q = statusQuery(static_cast<std::uint16_t>(tid));
        QCOMPARE(q.size(), 50);
        QCOMPARE(q.toHex(' '), QByteArray(bytes({tid >> 8, tid & 0xFF}) + fixed).toHex(' '));
        // Against the query of another id, which differs in both id bytes: only those two differ.
        const QByteArray other = statusQuery(static_cast<std::uint16_t>(tid ^ 0xFFFF));
        QCOMPARE(other.mid(2), q.mid(2));
        QVERIFY(other[0] != q[0] && other[1] != q[1]);
    }

    void sendStatusQueryReachesPort137_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<int>("tid");
        QTest::newRow("127.0.0.1") << QByteArray("127.0.0.1") << 0x0000;
        QTest::newRow("127.0.0.37") << QByteArray("127.0.0.37") << 0x1234;
        QTest::newRow("127.12.34.56") << QByteArray("127.12.34.56") << 0xFFFF;
    }
    void sendStatusQueryReachesPort137()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QByteArray, address);
        QFETCH(int, tid);
        // Bound to the one address: a query sent to the reversed byte order or another port never arrives.
        Fd peer(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        QVERIFY(peer.fd >= 0);
        const sockaddr_in at = loopback(address.constData(), 137);
        // A responder of a test that just ended may still hold the port for a moment.
        QDeadlineTimer patience(10000);
        int rc;
        while ((rc = ::bind(peer.fd, reinterpret_cast<const sockaddr*>(&at), sizeof at)) != 0 && errno == EADDRINUSE
               && !patience.hasExpired())
            QThread::msleep(100);
        QVERIFY2(rc == 0, std::strerror(errno));
        Fd scanner(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        QVERIFY(scanner.fd >= 0);

        // Twice on one socket: the routine leaves the socket open and usable.
        const std::uint32_t to = corvane::ipv4::inet_addr_value(QLatin1String(address)).value;
        for (const int id : {tid, tid ^ 0x00FF}) {
            QCOMPARE(send_status_query(scanner.fd, to, static_cast<std::uint16_t>(id)), 0);
            pollfd pfd{peer.fd, POLLIN, 0};
            QVERIFY2(::poll(&pfd, 1, 2000) == 1, "no query arrived at port 137");
            char buf[2048];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t got = ::recvfrom(peer.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            QCOMPARE(got, ssize_t{nb_query_length});
            QCOMPARE(QByteArray(buf, nb_query_length).toHex(' '), statusQuery(static_cast<std::uint16_t>(id)).toHex(' '));
            sockaddr_in self{};
            socklen_t selfLen = sizeof self;
            QCOMPARE(::getsockname(scanner.fd, reinterpret_cast<sockaddr*>(&self), &selfLen), 0);
            QCOMPARE(from.sin_port, self.sin_port);
        }
    }

    void sendStatusQueryFailure_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"closed descriptor", "minus one", "pipe", "unix datagram socket", "IPv6-only socket"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void sendStatusQueryFailure()
    {
        QFETCH(QString, kind);
        int fd = -1;
        int pipeEnds[2] = {-1, -1};
        if (kind == QLatin1String("closed descriptor")) {
            fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            QVERIFY(fd >= 0);
            ::close(fd);
        } else if (kind == QLatin1String("pipe")) {
            QCOMPARE(::pipe2(pipeEnds, O_CLOEXEC), 0);
            fd = pipeEnds[1];
        } else if (kind == QLatin1String("unix datagram socket")) {
            fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        } else if (kind == QLatin1String("IPv6-only socket")) {
            fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            QCOMPARE(::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on), 0);
        }
        Fd owned(kind == QLatin1String("closed descriptor") || kind == QLatin1String("pipe") ? -1 : fd);
        Fd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
        if (kind != QLatin1String("closed descriptor") && kind != QLatin1String("minus one"))
            QVERIFY(fd >= 0);
        QCOMPARE(send_status_query(fd, corvane::ipv4::inet_addr_value(QStringLiteral("127.0.0.1")).value, 0x4242), -1);
    }

    void encodeName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("suffix");
        QTest::addColumn<QByteArray>("letters");
        const QByteArray wildcard = "CK" + QByteArray(30, 'A');
        QTest::newRow("* suffix 0") << QByteArray("*") << 0x00 << wildcard;
        QTest::newRow("* suffix 0x20 ignored") << QByteArray("*") << 0x20 << wildcard;
        QTest::newRow("* suffix 0x1D ignored") << QByteArray("*") << 0x1D << wildcard;
        QTest::newRow("* suffix 0xFF ignored") << QByteArray("*") << 0xFF << wildcard;
        QTest::newRow("** is no wildcard") << QByteArray("**") << 0x00 << "CKCK" + QByteArray("CA").repeated(13) + "AA";
        QTest::newRow("abc 0x20") << QByteArray("abc") << 0x20 << "EBECED" + QByteArray("CA").repeated(13);
        QTest::newRow("ABC 0x20") << QByteArray("ABC") << 0x20 << "EBECED" + QByteArray("CA").repeated(13);
        QTest::newRow("PC1 0x00") << QByteArray("PC1") << 0x00 << "FAEDDB" + QByteArray("CA").repeated(12) + "AA";
        QTest::newRow("empty name 0x1B") << QByteArray("") << 0x1B << QByteArray("CA").repeated(15) + "BL";
        QTest::newRow("20 characters cut to 15") << QByteArray("ABCDEFGHIJKLMNOPQRST") << 0x00
                                                 << QByteArray("EBECEDEEEFEGEHEIEJEKELEMENEOEPAA");
        QTest::newRow("15 characters") << QByteArray("FIFTEENCHARSPC4") << 0x03
                                       << QByteArray("EGEJEGFEEFEFEOEDEIEBFCFDFAEDDEAD");
        QTest::newRow("lower case name") << QByteArray("wg-x9") << 0x1E
                                         << "FHEHCNFIDJ" + QByteArray("CA").repeated(10) + "BO";
        QTest::newRow("suffix 0x61 as 0x41") << QByteArray("A") << 0x61 << "EB" + QByteArray("CA").repeated(14) + "EB";
        QTest::newRow("suffix 0x7A as 0x5A") << QByteArray("A") << 0x7A << "EB" + QByteArray("CA").repeated(14) + "FK";
        QTest::newRow("suffix 0x60 kept") << QByteArray("A") << 0x60 << "EB" + QByteArray("CA").repeated(14) + "GA";
        QTest::newRow("suffix 0x7B kept") << QByteArray("A") << 0x7B << "EB" + QByteArray("CA").repeated(14) + "HL";
        QTest::newRow("suffix 0xE4 kept") << QByteArray("A") << 0xE4 << "EB" + QByteArray("CA").repeated(14) + "OE";
        QTest::newRow("bytes above 0x7F kept") << QByteArray("\xE4\xFF") << 0x20
                                               << "OEPP" + QByteArray("CA").repeated(14);
    }
    void encodeName()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, suffix);
        QFETCH(QByteArray, letters);
        char dest[40];
        std::memset(dest, 0x55, sizeof dest);
        QCOMPARE(encode_netbios_name(name.constData(), dest, static_cast<std::uint8_t>(suffix)), 33);
        QCOMPARE(dest[0], '\x20');
        QCOMPARE(QByteArray(dest + 1, 32), letters);
        QCOMPARE(dest[33], '\0');
        QCOMPARE(QByteArray(dest + 34, 6), QByteArray(6, 0x55)); // nothing written past the 34 bytes
    }

    // Qt programs run in the user's locale (QCoreApplication sets it); in a Latin-1 one toupper()
    // also turns bytes like 0xE4 into 0xC4, which the encoding must not do.
    void encodeNameIgnoresTheLocale()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString locale = QStringLiteral("de_DE.ISO-8859-1");
        if (QProcess::execute(QStringLiteral("localedef"),
                              {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"), QStringLiteral("ISO-8859-1"),
                               dir.filePath(locale)}) != 0)
            CORVANE_SKIP_OR_FAIL("needs localedef and the locales package");
        const QByteArray previous = std::setlocale(LC_CTYPE, nullptr);
        qputenv("LOCPATH", QFile::encodeName(dir.path()));
        const bool latin1 = std::setlocale(LC_CTYPE, locale.toLatin1().constData()) != nullptr;
        const int upper = std::toupper(0xE4);
        char dest[34];
        const int length = encode_netbios_name("\xE4z", dest, 0xE4);
        std::setlocale(LC_CTYPE, previous.constData());
        qunsetenv("LOCPATH");
        QVERIFY(latin1);
        QCOMPARE(upper, 0xC4); // the locale was in force
        QCOMPARE(length, 33);
        QCOMPARE(QByteArray(dest + 1, 32), "OEFK" + QByteArray("CA").repeated(13) + "OE");
    }

    void parseLengths_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("headerFields"); // of 12, in wire order; 0: no status_header
        QTest::addColumn<bool>("table");
        QTest::addColumn<int>("statsFields"); // of 22, in wire order; 0: no adapter_stats
        QTest::addColumn<int>("parsed");
        QTest::addColumn<QByteArray>("rrName");
        const QByteArray name = wildcardName().left(33);
        const auto row = [&](const char* what, const QByteArray& d, int hdr, bool table, int stats, int parsed) {
            QTest::addRow("%s (%d bytes)", what, int(d.size())) << d << hdr << table << stats << parsed
                                                                << (hdr >= 7 ? name : QByteArray());
        };
        const QByteArray a3 = answer(3);
        row("empty", {}, 0, false, 0, 0);
        row("1 byte", a3.left(1), 0, false, 0, 0);
        row("2 bytes", a3.left(2), 0, false, 0, 0);
        row("3 bytes: transaction id", a3.left(3), 1, false, 0, 2);
        row("4 bytes", a3.left(4), 1, false, 0, 2);
        row("5 bytes: flags", a3.left(5), 2, false, 0, 4);
        row("12 bytes", a3.left(12), 5, false, 0, 10);
        row("13 bytes: all six header numbers", a3.left(13), 6, false, 0, 12);
        row("46 bytes: no answer name", a3.left(46), 6, false, 0, 12);
        row("47 bytes: answer name", a3.left(47), 7, false, 0, 46);
        row("48 bytes: no answer type", a3.left(48), 7, false, 0, 46);
        row("49 bytes: answer type", a3.left(49), 8, false, 0, 48);
        row("51 bytes: class", a3.left(51), 9, false, 0, 50);
        row("54 bytes: no time to live", a3.left(54), 9, false, 0, 50);
        row("55 bytes: time to live", a3.left(55), 10, false, 0, 54);
        row("57 bytes: no name count", a3.left(57), 11, false, 0, 56);
        row("58 bytes: name count", a3.left(58), 12, false, 0, 57);
        row("n=1 at 57+18", answer(1).left(75), 12, false, 0, 57);
        row("n=1 at 57+18+1", answer(1).left(76), 12, true, 0, 75);
        row("n=3 at 57+54", a3.left(111), 12, false, 0, 57);
        row("n=3 at 57+54+1", a3.left(112), 12, true, 0, 111);
        row("n=3 no room for the MAC", a3.left(117), 12, true, 0, 111);
        row("n=3 MAC", a3.left(118), 12, true, 1, 117);
        row("n=3 46-byte statistics", answer(3, 46, 0), 12, true, 19, 155);
        row("n=3 50-byte statistics, nothing after", answer(3, 50, 0), 12, true, 21, 159);
        row("n=3 50-byte statistics and one byte", answer(3, 50, 1), 12, true, 22, 161);
        row("n=3 50-byte statistics and 100 bytes", answer(3, 50, 100), 12, true, 22, 161);
        row("n=1 46-byte statistics", answer(1, 46, 0), 12, true, 19, 119);
        row("n=1 50-byte statistics and one byte", answer(1, 50, 1), 12, true, 22, 125);
        row("n=0 58 bytes", answer(0).left(58), 12, false, 0, 57);
        row("n=0 no room for the MAC", answer(0).left(63), 12, false, 0, 57);
        row("n=0 MAC at 57", answer(0).left(64), 12, false, 1, 63);
        row("n=0 46-byte statistics", answer(0, 46, 0), 12, false, 19, 101);
        row("n=0 50-byte statistics and one byte", answer(0, 50, 1), 12, false, 22, 107);
        row("n=53 at 57+18*53+1", answer(53).left(1012), 12, true, 0, 1011);
        row("n=53 in 1024 bytes", answer(53).left(1024), 12, true, 5, 1023);
        row("n=54 in 1024 bytes", answer(54).left(1024), 12, false, 0, 57);
        row("n=255 in 1024 bytes", answer(255).left(1024), 12, false, 0, 57);
        row("n=255 whole", answer(255), 12, true, 22, 57 + 18 * 255 + 50);

        QByteArray early = wildcardName();
        early[3] = '\0';
        QTest::newRow("answer name cut at its first zero")
            << answer(2, 50, 1, early) << 12 << true << 22 << 143 << early.left(3);
        const QByteArray full(34, 'N');
        QTest::newRow("answer name of 34 bytes without zero") << answer(2, 50, 1, full) << 12 << true << 22 << 143 << full;
        QTest::newRow("answer name starting with zero")
            << answer(2, 50, 1, QByteArray(1, '\0') + full.left(33)) << 12 << true << 22 << 143 << QByteArray();
    }
    void parseLengths()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, headerFields);
        QFETCH(bool, table);
        QFETCH(int, statsFields);
        QFETCH(int, parsed);
        QFETCH(QByteArray, rrName);
        const int n = datagram.size() > 56 ? static_cast<std::uint8_t>(datagram[56]) : 0;
        for (const bool odd : {false, true}) {
            const Result r = parseCopy(datagram, odd);
            QVERIFY(r);
            QCOMPARE(r->parsed_length, parsed);
            QCOMPARE(r->status_header != nullptr, headerFields > 0);
            QCOMPARE(r->name_table != nullptr, table);
            QCOMPARE(r->adapter_stats != nullptr, statsFields > 0);
            if (r->status_header)
                compareHeader(*r->status_header, expectedHeader(headerFields, n, rrName));
            if (QTest::currentTestFailed())
                return;
            if (r->name_table) {
                QCOMPARE(QByteArray(reinterpret_cast<const char*>(r->name_table), 18 * n).toHex(' '),
                         datagram.mid(57, 18 * n).toHex(' '));
                // The entry keeps the wire order: the high flag byte first.
                QCOMPARE(r->name_table[n - 1].suffix, static_cast<std::uint8_t>(n - 1));
                QCOMPARE(r->name_table[n - 1].flags[1], static_cast<std::uint8_t>(0xFF - (n - 1)));
            }
            if (r->adapter_stats)
                compareStats(*r->adapter_stats, expectedStats(statsFields));
            if (QTest::currentTestFailed())
                return;
        }
    }

    void parseEmptyInput_data()
    {
        QTest::addColumn<bool>("null");
        QTest::addColumn<int>("length");
        QTest::newRow("null, length 0") << true << 0;
        QTest::newRow("null, length 200") << true << 200;
        QTest::newRow("null, length -1") << true << -1;
        QTest::newRow("data, length -1") << false << -1;
        QTest::newRow("data, length -200") << false << -200;
        QTest::newRow("data, length INT32_MIN") << false << std::numeric_limits<std::int32_t>::min();
    }
    void parseEmptyInput()
    {
        QFETCH(bool, null);
        QFETCH(int, length);
        const QByteArray whole = answer(2);
        const Result r(parse_response(null ? nullptr : whole.constData(), length), &release_result);
        QVERIFY(r);
        QVERIFY(!r->status_header);
        QVERIFY(!r->name_table);
        QVERIFY(!r->adapter_stats);
        QCOMPARE(r->parsed_length, 0);
        release_result(nullptr); // allowed, does nothing
    }

    // Without memory for any one block the result is none, and what was obtained is released (the
    // sanitizer build's leak check sees the rest).
    void parseWithoutMemory_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("result record") << int(sizeof(nb_status_result));
        QTest::newRow("header") << int(sizeof(nb_status_header));
        QTest::newRow("statistics") << int(sizeof(nb_adapter_stats));
        QTest::newRow("name table") << int(5 * sizeof(nb_name_entry));
    }
    void parseWithoutMemory()
    {
        QFETCH(int, size);
        const QByteArray d = answer(5);
        g_failAllocationOf = static_cast<std::size_t>(size);
        nb_status_result* r = parse_response(d.constData(), static_cast<std::int32_t>(d.size()));
        g_failAllocationOf = 0;
        QVERIFY(!r);
        // The same datagram parses whole once memory is there again.
        const Result again(parse_response(d.constData(), static_cast<std::int32_t>(d.size())), &release_result);
        QVERIFY(again && again->name_table && again->adapter_stats);
    }

    void nameFlagsText_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("text");
        QTest::newRow("0x04") << 0x04 << QStringLiteral("UNIQUE B-node  Registered Active");
        QTest::newRow("0x84") << 0x84 << QStringLiteral("GROUP  B-node  Registered Active");
        QTest::newRow("0x00") << 0x00 << QStringLiteral("UNIQUE B-node  Registered Inactive");
        QTest::newRow("0xFE") << 0xFE << QStringLiteral("GROUP  H-node  Deregistering Conflict Active Permanent");
        QTest::newRow("0x60") << 0x60 << QStringLiteral("UNIQUE H-node  Registered Inactive");
        QTest::newRow("0x20") << 0x20 << QStringLiteral("UNIQUE P-node  Registered Inactive");
        QTest::newRow("0x40") << 0x40 << QStringLiteral("UNIQUE M-node  Registered Inactive");
        QTest::newRow("0x10") << 0x10 << QStringLiteral("UNIQUE B-node  Deregistering Inactive");
        QTest::newRow("0x08") << 0x08 << QStringLiteral("UNIQUE B-node  Registered Conflict Inactive");
        QTest::newRow("0x02") << 0x02 << QStringLiteral("UNIQUE B-node  Registered Inactive Permanent");
        QTest::newRow("0x80") << 0x80 << QStringLiteral("GROUP  B-node  Registered Inactive");
        QTest::newRow("0x64") << 0x64 << QStringLiteral("UNIQUE H-node  Registered Active");
        QTest::newRow("0xC4") << 0xC4 << QStringLiteral("GROUP  M-node  Registered Active");
        QTest::newRow("0x1E") << 0x1E << QStringLiteral("UNIQUE B-node  Deregistering Conflict Active Permanent");
        QTest::newRow("0xA6") << 0xA6 << QStringLiteral("GROUP  P-node  Registered Active Permanent");
    }
    void nameFlagsText()
    {
        QFETCH(int, flags);
        QFETCH(QString, text);
        QCOMPARE(name_flags_text(static_cast<std::uint8_t>(flags)), text);
        // Bit 0x01 is unused.
        QCOMPARE(name_flags_text(static_cast<std::uint8_t>(flags ^ 0x01)), text);
    }

    void isUniqueName_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("unique");
        for (int f : {0x00, 0x01, 0x04, 0x60, 0x7F})
            QTest::addRow("0x%02X", f) << f << true;
        for (int f : {0x80, 0x81, 0x84, 0xE4, 0xFF})
            QTest::addRow("0x%02X", f) << f << false;
    }
    void isUniqueName()
    {
        QFETCH(int, flags);
        QFETCH(bool, unique);
        QCOMPARE(is_unique_name(static_cast<std::uint8_t>(flags)), unique);
    }

    // The decoders see the high flag byte of a parsed entry; whatever the low byte holds is not theirs.
    void decodersTakeTheHighFlagByte_data()
    {
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("low");
        QTest::addColumn<bool>("unique");
        QTest::addColumn<QString>("text");
        const QString groupText = QStringLiteral("GROUP  B-node  Registered Active");
        const QString uniqueText = QStringLiteral("UNIQUE H-node  Registered Active");
        QTest::newRow("group, low 0x00") << 0x84 << 0x00 << false << groupText;
        QTest::newRow("group, low 0xFF") << 0x84 << 0xFF << false << groupText;
        QTest::newRow("unique, low 0x80") << 0x64 << 0x80 << true << uniqueText;
        QTest::newRow("unique, low 0xFF") << 0x64 << 0xFF << true << uniqueText;
    }
    void decodersTakeTheHighFlagByte()
    {
        QFETCH(int, high);
        QFETCH(int, low);
        QFETCH(bool, unique);
        QFETCH(QString, text);
        QByteArray d = answer(1);
        d[57 + 16] = static_cast<char>(high);
        d[57 + 17] = static_cast<char>(low);
        const Result r = parseCopy(d, false);
        QVERIFY(r && r->name_table);
        const std::uint8_t flags = r->name_table[0].flags[0];
        QCOMPARE(is_unique_name(flags), unique);
        QCOMPARE(name_flags_text(flags), text);
        QCOMPARE(QByteArray(suffix_service_name(r->name_table[0].suffix, is_unique_name(flags))),
                 QByteArray(unique ? "Workstation Service" : "Workgroup/Domain Name"));
    }

    void suffixServiceName_data()
    {
        QTest::addColumn<int>("suffix");
        QTest::addColumn<bool>("unique");
        QTest::addColumn<QByteArray>("text");
        const std::pair<int, const char*> uniqueRows[] = {
            {0x00, "Workstation Service"},
            {0x01, "Messenger Service"},
            {0x03, "Messenger Service"},
            {0x06, "RAS Server Service"},
            {0x1B, "Primary Domain Controler"},
            {0x1D, "Master Browser"},
            {0x1F, "NetDDE Service"},
            {0x20, "File Server Service"},
            {0x21, "RAS Client Service"},
            {0x22, "Microsoft Exchange Interchange"},
            {0x23, "Microsoft Exchange Store"},
            {0x24, "Microsoft Exchange Directory"},
            {0x2B, "Lotus Notes Server Service"},
            {0x30, "Modem Sharing Server Service"},
            {0x31, "Modem Sharing Client Service"},
            {0x42, "McAffee Anti-Virus"},
            {0x43, "SMS Clients Remote Control"},
            {0x44, "SMS Administrators Remote Control Tool"},
            {0x45, "SMS Clients Remote Chat"},
            {0x46, "SMS Clients Remote Transfer"},
            {0x4C, "DEC Pathworks TCPIP service on Windows NT"},
            {0x52, "DEC Pathworks TCPIP service on Windows NT"},
            {0x6A, "Microsoft Exchange IMC"},
            {0x87, "Microsoft Exchange MTA"},
            {0xBE, "Network Monitor Agent"},
            {0xBF, "Network Monitor Application"},
        };
        const std::pair<int, const char*> groupRows[] = {
            {0x00, "Workgroup/Domain Name"},  {0x01, "Subnet Master Browser"}, {0x1C, "Domain Controllers"},
            {0x1E, "Browser Service Elections"}, {0x2F, "Lotus Notes"},       {0x33, "Lotus Notes"},
        };
        for (const auto& [suffix, text] : uniqueRows)
            QTest::addRow("unique 0x%02X", suffix) << suffix << true << QByteArray(text);
        for (const auto& [suffix, text] : groupRows)
            QTest::addRow("group 0x%02X", suffix) << suffix << false << QByteArray(text);
        // Suffixes that belong to the other table only, or to neither.
        for (int suffix : {0x1C, 0x1E, 0x2F, 0x33, 0x02, 0x05, 0x1A, 0x7F, 0xFF})
            QTest::addRow("unique 0x%02X: none", suffix) << suffix << true << QByteArray();
        for (int suffix : {0x20, 0x1B, 0x1D, 0x03, 0x02, 0x05, 0xBF, 0xFF})
            QTest::addRow("group 0x%02X: none", suffix) << suffix << false << QByteArray();
    }
    void suffixServiceName()
    {
        QFETCH(int, suffix);
        QFETCH(bool, unique);
        QFETCH(QByteArray, text);
        const char* got = suffix_service_name(static_cast<std::uint8_t>(suffix), unique);
        QVERIFY(got);
        QCOMPARE(QByteArray(got), text);
    }

    void readNet_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<uint>("u16");
        QTest::addColumn<uint>("u32");
        QTest::newRow("offset 0") << 0 << 0x0081u << 0x0081FF7Eu;
        QTest::newRow("offset 1") << 1 << 0x81FFu << 0x81FF7E80u;
        QTest::newRow("offset 2") << 2 << 0xFF7Eu << 0xFF7E8001u;
        QTest::newRow("offset 3") << 3 << 0x7E80u << 0x7E8001C3u;
        QTest::newRow("offset 5") << 5 << 0x01C3u << 0x01C33CFEu;
        QTest::newRow("offset 7, last 2 bytes") << 7 << 0x3CFEu << 0u;
    }
    void readNet()
    {
        QFETCH(int, offset);
        QFETCH(uint, u16);
        QFETCH(uint, u32);
        // Exactly sized, so the sanitizer build sees any read past the value.
        const std::uint8_t wire[] = {0x00, 0x81, 0xFF, 0x7E, 0x80, 0x01, 0xC3, 0x3C, 0xFE};
        const std::size_t size = sizeof wire - static_cast<std::size_t>(offset);
        auto two = std::make_unique<std::uint8_t[]>(2);
        std::memcpy(two.get(), wire + offset, 2);
        QCOMPARE(uint{read_net_u16(two.get())}, u16);
        if (size >= 4) {
            auto four = std::make_unique<std::uint8_t[]>(4);
            std::memcpy(four.get(), wire + offset, 4);
            QCOMPARE(uint{read_net_u32(four.get())}, u32);
        }
        // In place at the odd and even positions of one buffer.
        auto all = std::make_unique<std::uint8_t[]>(sizeof wire);
        std::memcpy(all.get(), wire, sizeof wire);
        QCOMPARE(uint{read_net_u16(all.get() + offset)}, u16);
        if (size >= 4)
            QCOMPARE(uint{read_net_u32(all.get() + offset)}, u32);
    }
};

QTEST_GUILESS_MAIN(TestNetBiosProcs)
#include "tst_netbios_procs.moc"
