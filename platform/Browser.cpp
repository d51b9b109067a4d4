#include "platform/Browser.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace corvane::platform {

namespace {

// Value of key in the group of a desktop-entry style file ("[group]", "key = value"), or empty.
QString key_file_value(const QString& path, QLatin1String group, QLatin1String key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == u'[' + group + u']';
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (inGroup && eq > 0 && QStringView(line).left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

QString desktop_entry_path(const QString& desktopId)
{
    if (desktopId.isEmpty() || desktopId.contains(QLatin1String("..")))
        return QString();
    // "vendor-app.desktop" may also live as applications/vendor/app.desktop.
    QStringList candidates {desktopId};
    QString nested = desktopId;
    for (qsizetype dash = nested.indexOf(u'-'); dash > 0; dash = nested.indexOf(u'-', dash + 1)) {
        nested[dash] = u'/';
        candidates << nested;
    }
    for (const QString& rel : candidates) {
        const QString path
            = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("applications/") + rel);
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

QString handler_from_xdg_mime()
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
    if (proc.exitCode() != 0)
        return QString();
    return QString::fromUtf8(proc.readAllStandardOutput()).trimmed().section(u';', 0, 0);
}

// The MIME association files as xdg-mime reads them, for machines without xdg-utils: the first
// installed entry of text/html under [Default Applications], desktop-specific files first.
QString handler_from_mimeapps()
{
    QStringList names;
    for (const QString& desktop : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts))
        names << desktop.toLower() + QStringLiteral("-mimeapps.list");
    names << QStringLiteral("mimeapps.list");
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        dirs << data + QStringLiteral("/applications");
    for (const QString& dir : dirs) {
        for (const QString& name : names) {
            const QString list
                = key_file_value(dir + u'/' + name, QLatin1String("Default Applications"), QLatin1String("text/html"));
            for (const QString& id : list.split(u';', Qt::SkipEmptyParts))
                if (!desktop_entry_path(id.trimmed()).isEmpty())
                    return id.trimmed();
        }
    }
    return QString();
}

} // namespace

QString default_browser_exec()
{
    QString desktopId = handler_from_xdg_mime();
    if (desktop_entry_path(desktopId).isEmpty())
        desktopId = handler_from_mimeapps();
    const QString path = desktop_entry_path(desktopId);
    return path.isEmpty() ? QString() : key_file_value(path, QLatin1String("Desktop Entry"), QLatin1String("Exec"));
}

namespace {

// The general escapes of a string value; any other backslash is left for the quoting rules.
QString unescape_string_value(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const QChar next = i + 1 < value.size() ? value.at(i + 1) : QChar();
        if (c != u'\\' || next.isNull()) {
            out += c;
            continue;
        }
        switch (next.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        default:
            out += c;
            continue; // the next character is read as it is
        }
        ++i;
    }
    return out;
}

bool is_marker(const QString& arg)
{
    return arg == QLatin1String("@@") || arg == QLatin1String("@@u") || arg == QLatin1String("@@f");
}

} // namespace

QStringList desktop_exec_arguments(const QString& exec, const QString& url)
{
    const QString line = unescape_string_value(exec);
    QStringList args;
    QString arg;
    bool quotedPart = false; // an argument made of "" is still an argument
    bool expanded = false; // a field code gave the argument its text
    bool hadUrl = false;
    bool inQuotes = false;
    const auto endArg = [&] {
        if (quotedPart || (!arg.isEmpty() && !(!expanded && is_marker(arg))))
            args << arg;
        arg.clear();
        quotedPart = expanded = false;
    };
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        const QChar next = i + 1 < line.size() ? line.at(i + 1) : QChar();
        if (inQuotes) {
            if (c == u'"') {
                inQuotes = false;
            } else if (c == u'\\' && (next == u'"' || next == u'`' || next == u'$' || next == u'\\')) {
                arg += next;
                ++i;
            } else {
                arg += c;
            }
        } else if (c == u'"') {
            inQuotes = quotedPart = true;
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            endArg();
        } else if (c == u'%' && !next.isNull()) {
            ++i;
            if (next == u'%') {
                arg += u'%';
            } else if (next == u'u' || next == u'U' || next == u'f' || next == u'F') {
                arg += url;
                expanded = hadUrl = true;
            }
            // %i %c %k and the deprecated codes give nothing here.
        } else {
            arg += c;
        }
    }
    if (inQuotes)
        return {};
    endArg();
    if (args.isEmpty() || args.first().isEmpty())
        return {};
    if (!hadUrl)
        args << url;
    return args;
}

QString cut_browser_command(const QString& commandLine)
{
    return desktop_exec_arguments(commandLine, QString()).value(0);
}

bool start_detached(const QString& program, const QStringList& args)
{
    return QProcess::startDetached(program, args);
}

bool launch_browser(const QString& exec, const QString& url, const TLauncher& launcher)
{
    const QStringList argv = desktop_exec_arguments(exec, url);
    if (argv.isEmpty())
        return false;
    return launcher(argv.first(), argv.mid(1));
}

} // namespace corvane::platform

QString get_default_browser()
{
    using namespace corvane::platform;
    return cut_browser_command(default_browser_exec());
}

void open_in_browser(const QString& url)
{
    using namespace corvane::platform;
    launch_browser(default_browser_exec(), url);
}
