#pragma once
// One main for the offscreen GUI test programs.

#include "TestSupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>

namespace corvane::test {

enum class Loopback { Machine, Private };

// Creates the application and runs the tests. With Loopback::Private (root only) the program first
// enters a network namespace of its own, so port 137 and 127/8 are the test's alone. childWanted /
// child: a mode the test starts the program again in; it runs instead of the tests when wanted.
template <class Test>
int gui_test_main(int argc, char** argv, Loopback loopback = Loopback::Machine,
                  const std::function<bool(int argc, char** argv)>& childWanted = {},
                  const std::function<int(int argc, char** argv)>& child = {})
{
    const bool isChild = childWanted && childWanted(argc, argv);
    // The page Devices records its surveys and keeps settings: never in the user's own files.
    QTemporaryDir home;
    if (!isChild && home.isValid()) {
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    }
    if (!isChild && loopback == Loopback::Private && isRoot() && !enterPrivateLoopback())
        std::fprintf(stderr, "no private network namespace: using the machine's loopback\n");
    QApplication app(argc, argv);
    if (isChild)
        return child(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace corvane::test

// CORVANE_GUI_TEST_MAIN(TestClass [, Loopback [, childWanted, child]])
#define CORVANE_GUI_TEST_MAIN(TestClass, ...)                                                                          \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        return corvane::test::gui_test_main<TestClass>(argc, argv __VA_OPT__(, ) __VA_ARGS__);                         \
    }
