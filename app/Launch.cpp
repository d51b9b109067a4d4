#include "app/Launch.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <memory>
#include <utility>

namespace {

QString missing_program(const QString& program)
{
    if (QStandardPaths::findExecutable(program).isEmpty() && !QFileInfo(program).isExecutable())
        return QStringLiteral("%1 is not installed").arg(program);
    return {};
}

QString last_line(const QByteArray& output)
{
    const QStringList lines = QString::fromLocal8Bit(output).split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.constLast().trimmed();
}

} // namespace

void start_watched(QObject* owner, const QString& program, const QStringList& args, int watchMs, TLaunchDone done)
{
    if (const QString missing = missing_program(program); !missing.isEmpty()) {
        done({false, missing});
        return;
    }
    auto* process = new QProcess(owner);
    auto told = std::make_shared<bool>(false);
    const auto tell = [done, told](const TLaunch& result) {
        if (std::exchange(*told, true))
            return;
        done(result);
    };
    process->setStandardOutputFile(QProcess::nullDevice());
    // Read as it comes, so a chatty program never fills the pipe; only the tail is kept, and nothing
    // once the answer is given.
    auto said = std::make_shared<QByteArray>();
    QObject::connect(process, &QProcess::readyReadStandardError, process, [process, said, told] {
        const QByteArray chunk = process->readAllStandardError();
        if (!*told)
            *said = QByteArray(*said + chunk).right(4096);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, tell, program](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        tell({false, QStringLiteral("%1 could not be started: %2").arg(program, process->errorString())});
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::finished, process,
                     [process, tell, program, said](int code, QProcess::ExitStatus status) {
                         const QString why = last_line(QByteArray(*said + process->readAllStandardError()));
                         if (status == QProcess::NormalExit && code == 0)
                             tell({});
                         else if (!why.isEmpty())
                             tell({false, why});
                         else if (status == QProcess::CrashExit)
                             tell({false, QStringLiteral("%1 crashed").arg(program)});
                         else
                             tell({false, QStringLiteral("%1 ended with status %2").arg(program).arg(code)});
                         process->deleteLater();
                     });
    // Still running: it took the request. Its stderr is no longer read from here on.
    QTimer::singleShot(watchMs, process, [tell] { tell({}); });
    process->start(program, args);
}

TLaunch start_detached_reporting(const QString& program, const QStringList& args)
{
    if (const QString missing = missing_program(program); !missing.isEmpty())
        return {false, missing};
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    if (!process.startDetached())
        return {false, QStringLiteral("%1 could not be started: %2").arg(program, process.errorString())};
    return {};
}
