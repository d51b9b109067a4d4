#include "platform/Browser.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace corvane::platform {

namespace {

std::function<QString()>& lookup_hook()
{
    static std::function<QString()> hook;
    return hook;
}

std::function<bool(const QString&, const QStringList&)>& launcher_hook()
{
    static std::function<bool(const QString&, const QStringList&)> hook;
    return hook;
}

QString exec_line_of(const QString& desktopId)
{
    // "vendor-app.desktop" may also live as applications/vendor/app.desktop.
    QStringList candidates {desktopId};
    QString nested = desktopId;
    for (qsizetype dash = nested.indexOf(u'-'); dash > 0; dash = nested.indexOf(u'-', dash + 1)) {
        nested[dash] = u'/';
        candidates << nested;
    }
    for (const QString& rel : candidates) {
        const QString path =
            QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("applications/") + rel);
        if (path.isEmpty())
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        bool inEntry = false;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(u'['))
                inEntry = line == QLatin1String("[Desktop Entry]");
            else if (inEntry && line.startsWith(QLatin1String("Exec=")))
                return line.mid(5).trimmed();
        }
    }
    return QString();
}

QString real_lookup()
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return QString();
    QProcess proc;
    proc.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!proc.waitForFinished(5000)) {
        proc.kill();
        proc.waitForFinished(1000);
        return QString();
    }
    const QString desktopId = QString::fromUtf8(proc.readAllStandardOutput()).trimmed().section(u';', 0, 0);
    if (proc.exitCode() != 0 || desktopId.isEmpty() || desktopId.contains(QLatin1String("..")))
        return QString();
    const QString exec = exec_line_of(desktopId);
    return exec.isEmpty() ? QString() : cut_browser_command(exec);
}

} // namespace

QString cut_browser_command(const QString& commandLine)
{
    QString result = commandLine;
    bool quoted = false;
    if (result.startsWith(u'"')) {
        quoted = true;
        const qsizetype close = result.indexOf(u'"', 1);
        result = close < 0 ? QString() : result.mid(1, close - 1);
    }
    const qsizetype exe = result.toLower().indexOf(QLatin1String(".exe"));
    if (exe >= 0)
        return result.left(exe + 4);
    if (!quoted) {
        const qsizetype blank = result.indexOf(u' ');
        const qsizetype tab = result.indexOf(u'\t');
        const qsizetype cut = blank < 0 ? tab : (tab < 0 ? blank : std::min(blank, tab));
        if (cut >= 0)
            result.truncate(cut);
    }
    return result;
}

void set_browser_lookup(std::function<QString()> lookup)
{
    lookup_hook() = std::move(lookup);
}

void set_browser_launcher(std::function<bool(const QString&, const QStringList&)> launcher)
{
    launcher_hook() = std::move(launcher);
}

} // namespace corvane::platform

QString get_default_browser()
{
    using namespace corvane::platform;
    return lookup_hook() ? lookup_hook()() : real_lookup();
}

void open_in_browser(const QString& url)
{
    using namespace corvane::platform;
    const QString browser = get_default_browser();
    if (browser.isEmpty())
        return;
    if (launcher_hook())
        launcher_hook()(browser, {url});
    else
        QProcess::startDetached(browser, {url});
}
