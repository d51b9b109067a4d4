#pragma once
// Small helpers shared by the test programs.

#include <QStandardPaths>
#include <QString>
#include <QTest>

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
