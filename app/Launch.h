#pragma once
// Programs the window starts for the desktop (file manager, browser), and what became of them.

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

// Whether a launcher took the request, and why not.
struct TLaunch
{
    bool ok = true;
    QString reason; // one line, when not ok
};
using TLaunchDone = std::function<void(const TLaunch&)>;

// Starts program with args as a child of owner and tells done, once, on owner's thread: failure when
// it cannot start or ends with a failure within watchMs (its last line on stderr says why), success
// when it ends well or still runs then; after that it is left alone (a file manager it became may run
// for hours). Gone with owner: done is then never called.
void start_watched(QObject* owner, const QString& program, const QStringList& args, int watchMs, TLaunchDone done);

// Starts program detached, without a shell: failure says why it could not start.
TLaunch start_detached_reporting(const QString& program, const QStringList& args);
