#pragma once
// The default web browser: the freedesktop text/html handler, its desktop entry's Exec value read by
// the desktop-entry rules and started detached, without a shell.

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane::platform {

// The program and arguments an Exec value asks for to open url: string escapes (\s \n \t \r \\),
// then quoting ("..." with \" \` \$ \\), then field codes (%u %U %f %F: the url; %%: "%"; the other
// codes dropped) and flatpak's @@u / @@ markers dropped. Without %u %U %f %F the url is appended.
// Empty when the value is malformed (a quote left open) or names no program.
QStringList desktop_exec_arguments(const QString& exec, const QString& url);

// The program an Exec value starts (the first of its arguments), or empty.
QString cut_browser_command(const QString& commandLine);

// The Exec value of the text/html handler (xdg-mime, else mimeapps.list, then its desktop entry), or
// empty. Runs xdg-mime and waits for it (at most 5 s): keep it off the GUI thread.
QString default_browser_exec();

// Starts a program with its arguments; false when it could not be started.
using TLauncher = std::function<bool(const QString& program, const QStringList& args)>;
// Detached, without a shell.
bool start_detached(const QString& program, const QStringList& args);

// Starts what exec asks for to open url through launcher; nothing (false) when exec names no program.
bool launch_browser(const QString& exec, const QString& url, const TLauncher& launcher = start_detached);

} // namespace corvane::platform

// Program of the text/html handler (xdg-mime or mimeapps.list, then its desktop entry's Exec), or empty.
QString get_default_browser();

// Starts the default browser's Exec value with the url; nothing when there is none.
void open_in_browser(const QString& url);
