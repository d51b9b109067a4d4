#pragma once
// Runs a program as a user would (stdin closed, or given its bytes) and hands back its status and output. Every wait
// is bounded.
//
//     const ProgramRun r = runProgram(exe, {"nbstat", "127.0.0.1"}, ProgramOptions().env({{"LC_ALL", "C"}}));
//     QCOMPARE(r.code, 0);
//
// Program is the same for a test that must look at the output while the program still runs.

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace corvane::test {

struct ProgramRun
{
    int code = -1; // -1: did not start, crashed or was killed at its time-out
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
    QString startError; // why it did not start, else empty
};

// Set by chained calls: ProgramOptions().env({{"LC_ALL", "C"}}).timeout(10000).
struct ProgramOptions
{
    QMap<QString, QString> extraEnv; // added to the caller's environment
    int timeoutMs = 30000;
    QString stdoutPath;              // stdout goes there instead of into ProgramRun::out
    bool stderrForwarded = false;    // stderr goes to the caller's
    QByteArray stdinBytes;           // written to stdin, which is then closed

    ProgramOptions& env(const QMap<QString, QString>& e) { extraEnv = e; return *this; }
    ProgramOptions& timeout(int ms) { timeoutMs = ms; return *this; }
    ProgramOptions& stdoutFile(const QString& path) { stdoutPath = path; return *this; }
    ProgramOptions& forwardStderr() { stderrForwarded = true; return *this; }
    ProgramOptions& input(const QByteArray& bytes) { stdinBytes = bytes; return *this; }
};

class Program
{
public:
    Program(const QString& program, const QStringList& args, const ProgramOptions& options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return m_started; }
    qint64 pid() const { return m_process.processId(); }
    // Reads stdout until it holds text, the program ends or timeoutMs pass; true when it holds it.
    bool waitForOutput(const QByteArray& text, int timeoutMs);
    QByteArray outputSoFar() const { return m_out; }
    // Waits at most timeoutMs for the end (then kills it) and gives status and output.
    ProgramRun finish(int timeoutMs);

private:
    QProcess m_process;
    bool m_started = false;
    QByteArray m_out;
};

ProgramRun runProgram(const QString& program, const QStringList& args, const ProgramOptions& options = {});

} // namespace corvane::test
