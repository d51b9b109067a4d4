#include "PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUrl>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace corvane::test {

PgServer::PgServer(int tcpPort)
    : m_tcpPort(tcpPort)
    , m_port(tcpPort > 0 ? tcpPort : 5432)
{ }

PgServer::~PgServer()
{
    stop();
}

QString PgServer::binDir()
{
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const QString bin = root.filePath(*it + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

// As nobody when root: the server will not run as root.
QString PgServer::run(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    if (::geteuid() == 0)
        p.start(QStringLiteral("runuser"),
                QStringList {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                             binDir() + u'/' + program}
                    + args);
    else
        p.start(binDir() + u'/' + program, args);
    if (!p.waitForStarted(5000))
        return program + QStringLiteral(" did not start: ") + p.errorString();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return program + QStringLiteral(" took too long");
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
    return {};
}

QString PgServer::start()
{
    if (binDir().isEmpty())
        return QStringLiteral("PostgreSQL's initdb and pg_ctl are missing (Debian: postgresql)");
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            return QStringLiteral("cannot hand the folder to nobody");
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!m_initialised) {
        if (QString why
            = run(QStringLiteral("initdb"),
                  {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("corvane"), QStringLiteral("-A"),
                   QStringLiteral("trust"), QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8")},
                  120000);
            !why.isEmpty())
            return why;
        m_initialised = true;
    }
    const QString listen = m_tcpPort > 0 ? QStringLiteral("127.0.0.1") : QString();
    const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses='%3' -c fsync=off -c max_connections=40")
                                .arg(m_dir.path(), QString::number(m_port), listen);
    if (QString why = run(QStringLiteral("pg_ctl"),
                          {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
                           m_dir.filePath(QStringLiteral("log")), QStringLiteral("-w"), QStringLiteral("start")},
                          60000);
        !why.isEmpty())
        return why;
    m_running = true;
    return {};
}

void PgServer::kill()
{
    QFile pidFile(m_dir.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        return;
    const pid_t pid = static_cast<pid_t>(pidFile.readLine().trimmed().toLong());
    if (pid <= 0)
        return;
    // The backends go with their postmaster's group.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
        ::usleep(50'000);
    m_running = false;
}

void PgServer::stop()
{
    if (!m_running)
        return;
    run(QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"), QStringLiteral("fast"),
         QStringLiteral("-w"), QStringLiteral("stop")},
        30000);
    m_running = false;
}

QString PgServer::url() const
{
    const QString host
        = m_tcpPort > 0 ? QStringLiteral("127.0.0.1") : QString::fromLatin1(QUrl::toPercentEncoding(m_dir.path()));
    return QStringLiteral("postgresql://corvane@%1:%2/postgres").arg(host, QString::number(m_port));
}

QString PgServer::socketUrl() const
{
    return QStringLiteral("postgresql://corvane@%1:%2/postgres")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(m_dir.path())), QString::number(m_port));
}

} // namespace corvane::test
