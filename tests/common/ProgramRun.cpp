#include "ProgramRun.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

namespace corvane::test {

Program::Program(const QString& program, const QStringList& args, const ProgramOptions& options)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = options.extraEnv.begin(); it != options.extraEnv.end(); ++it)
        env.insert(it.key(), it.value());
    m_process.setProcessEnvironment(env);
    if (!options.stdoutPath.isEmpty())
        m_process.setStandardOutputFile(options.stdoutPath);
    if (options.stderrForwarded)
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, args);
    m_started = m_process.waitForStarted(5000);
    if (m_started) {
        if (!options.stdinBytes.isEmpty())
            m_process.write(options.stdinBytes);
        m_process.closeWriteChannel();
    }
}

Program::~Program()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool Program::waitForOutput(const QByteArray& text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_out.contains(text) && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        m_out += m_process.readAllStandardOutput();
    }
    return m_out.contains(text);
}

ProgramRun Program::finish(int timeoutMs)
{
    ProgramRun r;
    if (!m_started) {
        r.startError = m_process.errorString();
        return r;
    }
    if (!m_process.waitForFinished(timeoutMs)) {
        r.timedOut = true;
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    r.out = m_out + m_process.readAllStandardOutput();
    r.err = m_process.readAllStandardError();
    if (!r.timedOut && m_process.exitStatus() == QProcess::NormalExit)
        r.code = m_process.exitCode();
    return r;
}

ProgramRun runProgram(const QString& program, const QStringList& args, const ProgramOptions& options)
{
    return Program(program, args, options).finish(options.timeoutMs);
}

} // namespace corvane::test
