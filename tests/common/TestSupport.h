#pragma once
// Small helpers shared by the test programs.

#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {

// CI runs as root with every package installed, so there a missing precondition is a failure.
inline bool inCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

inline bool isRoot()
{
    return ::geteuid() == 0;
}

inline bool hasProgram(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty()
        || !QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty();
}

// Writes text as the file name in dir and gives its path; empty when it cannot be written.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile f(dir.filePath(name));
    if (!dir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return QString();
    return f.fileName();
}

// Puts the calling thread into a network namespace of its own with the loopback up, so port 137 and
// 127/8 belong to this test alone (other programs on the machine may hold port 137). Call it first
// in main, before any thread exists: later threads and child processes inherit the namespace.
// False (and nothing changed) without root.
inline bool enterPrivateLoopback()
{
    if (!isRoot() || ::unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    ::close(fd);
    return up;
}

// Moves the calling thread into a fresh network namespace (only a downed loopback) until destroyed.
// Threads it starts meanwhile stay there, so what they send can reach no network at all.
class PrivateNetwork
{
public:
    PrivateNetwork() : m_home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
    {
        m_ok = m_home >= 0 && ::unshare(CLONE_NEWNET) == 0;
    }
    ~PrivateNetwork()
    {
        if (m_ok)
            ::setns(m_home, CLONE_NEWNET);
        if (m_home >= 0)
            ::close(m_home);
    }
    PrivateNetwork(const PrivateNetwork&) = delete;
    PrivateNetwork& operator=(const PrivateNetwork&) = delete;
    bool ok() const { return m_ok; }

private:
    int m_home;
    bool m_ok = false;
};

} // namespace corvane::test

// Skips outside CI, fails in CI.
#define CORVANE_SKIP_OR_FAIL(why)                                                                                      \
    do {                                                                                                               \
        if (corvane::test::inCi())                                                                                     \
            QFAIL(why);                                                                                                \
        QSKIP(why);                                                                                                    \
    } while (false)

#define CORVANE_REQUIRE_ROOT()                                                                                         \
    do {                                                                                                               \
        if (!corvane::test::isRoot())                                                                                  \
            CORVANE_SKIP_OR_FAIL("needs root (port 137, raw ICMP or network namespaces)");                            \
    } while (false)

#define CORVANE_REQUIRE_PROGRAM(name)                                                                                  \
    do {                                                                                                               \
        if (!corvane::test::hasProgram(QStringLiteral(name)))                                                          \
            CORVANE_SKIP_OR_FAIL("needs the program " name);                                                           \
    } while (false)
