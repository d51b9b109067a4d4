#pragma once
// A PostgreSQL server of the test's own from Debian's postgresql package: initdb and pg_ctl in a
// temporary folder, run as nobody when we are root (the server refuses root), reached on a Unix
// socket in that folder or, with a port, on 127.0.0.1 as well. Stopped (fast) when destroyed.

#include <QString>
#include <QTemporaryDir>

namespace corvane::test {

class PgServer
{
public:
    // tcpPort 0: the Unix socket only.
    explicit PgServer(int tcpPort = 0);
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // The folder of initdb and pg_ctl, or empty when the package is missing.
    static QString binDir();
    // Empty on success, else why.
    QString start();
    // Kills the server at once (SIGKILL to the postmaster and its children), as a crash would.
    void kill();
    void stop();
    // postgresql://corvane@HOST:PORT/postgres, over the socket or the loopback port.
    QString url() const;
    // The same server over its Unix socket, also when it listens on a port.
    QString socketUrl() const;

private:
    QString run(const QString& program, const QStringList& args, int timeoutMs);
    QTemporaryDir m_dir;
    int m_tcpPort;
    int m_port;
    bool m_initialised = false;
    bool m_running = false;
};

} // namespace corvane::test
