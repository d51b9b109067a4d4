#pragma once
// The default web browser: found through the freedesktop text/html handler, started detached.

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane::platform {

// Cuts a command line down to its program: a leading quote keeps the text up to the closing quote
// (none: empty); then the first ".exe" (any case) ends it; an unquoted line without ".exe" also
// ends at its first blank, as desktop Exec lines put their arguments there.
QString cut_browser_command(const QString& commandLine);

// Replaces the lookup / the launcher (tests); an empty function restores the real one.
void set_browser_lookup(std::function<QString()> lookup);
void set_browser_launcher(std::function<bool(const QString& program, const QStringList& args)> launcher);

} // namespace corvane::platform

// Program of the text/html handler (xdg-mime, then its desktop entry's Exec line), or empty.
QString get_default_browser();

// Starts the default browser with the url as its only argument; nothing when there is none.
void open_in_browser(const QString& url);
