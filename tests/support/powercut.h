#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTest>

// The power-cut runner: a storage test starts its own executable again as a
// child that runs one named operation in the current working directory and
// ends with _exit right after statement N (Storage's seam), as a power cut
// at that instant would leave the file. The parent then starts the database
// as the next boot would and checks what it finds.
class PowerCut
{
public:
    enum class Outcome { Cut, Completed, Failed, Crashed };
    // Runs the named operation in this (child) process; throws on failure.
    using Dispatch = void (*)(const QString &operation);

    // First thing in main(): in a child, runs the operation and exits;
    // otherwise returns at once.
    static void runChildIfAsked(Dispatch dispatch);
    // Parent: runs operation in a child, cut right after statement cutAfter
    // (counted from the operation's start; 0 runs it to the end). The child's
    // output goes to *output when given.
    static Outcome run(const QString &operation, int cutAfter, QByteArray *output = nullptr);

    // Cut points to try before giving up on an operation that never completes.
    static constexpr int kMaxStatements = 400;
};

// A QtTest main for suites that use the runner.
#define BRELLIUM_POWERCUT_TEST_MAIN(TestObject, dispatch)                                                             \
    int main(int argc, char *argv[])                                                                                 \
    {                                                                                                                \
        PowerCut::runChildIfAsked(dispatch);                                                                         \
        QCoreApplication app(argc, argv);                                                                            \
        TestObject tc;                                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                   \
        return QTest::qExec(&tc, argc, argv);                                                                        \
    }
