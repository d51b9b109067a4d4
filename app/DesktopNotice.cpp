#include "app/DesktopNotice.h"

#include "discovery/DeviceRows.h"
#include "support/ResultText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

using namespace corvane;
using namespace corvane::inventory;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// "3 new devices: A, B" with room for `room` names; the rest counted.
QString notice_line(const std::vector<const TEvent*>& events, const char* word, int& room)
{
    if (events.empty())
        return {};
    const int count = int(events.size());
    QString line = QStringLiteral("%1 %2 %3")
                       .arg(count)
                       .arg(QLatin1String(word), count == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
    QStringList named;
    for (const TEvent* e : events) {
        if (int(named.size()) >= room)
            break;
        named << notice_device(*e);
    }
    room -= int(named.size());
    if (!named.isEmpty())
        line += QStringLiteral(": ") + named.join(QStringLiteral(", "));
    if (named.size() < count)
        line += QStringLiteral(" and %1 more").arg(count - named.size());
    return line;
}

} // namespace

QString notice_device(const TEvent& event)
{
    const QString address = ipv4::dotted(event.address);
    if (event.name.name.isEmpty())
        return address;
    return QStringLiteral("%1 (%2)").arg(printable_name(discovery::found_name_text(event.name)), address);
}

std::optional<TDeviceNotice> device_notice(const std::vector<TEvent>& events, bool withGone)
{
    std::vector<const TEvent*> added, gone;
    for (const TEvent& e : events) {
        if (e.kind == TEventKind::New)
            added.push_back(&e);
        else if (e.kind == TEventKind::Gone && withGone)
            gone.push_back(&e);
    }
    if (added.empty() && gone.empty())
        return std::nullopt;
    int room = kNoticeDevices;
    const QString newLine = notice_line(added, "new", room);
    const QString goneLine = notice_line(gone, "gone", room);
    if (newLine.isEmpty())
        return TDeviceNotice {goneLine, {}};
    return TDeviceNotice {newLine, goneLine};
}

void TDesktopNotifier::notify(const TDeviceNotice& notice)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        Q_EMIT unavailable(why.isEmpty() ? QStringLiteral("no session bus") : QStringLiteral("no session bus: ") + why);
        return;
    }
    if (notice.body.isEmpty()) {
        send(notice, false);
        return;
    }
    // A body may carry markup where the server reads it: names from the network are escaped there.
    const QDBusMessage ask
        = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, notice](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            Q_EMIT unavailable(reply.error().message());
            return;
        }
        send(notice, reply.value().contains(QLatin1String("body-markup")));
    });
}

void TDesktopNotifier::send(const TDeviceNotice& notice, bool markup)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints {{QStringLiteral("desktop-entry"), QStringLiteral("com.example.Corvane")}};
    call << QStringLiteral("Corvane") << uint(0) << QStringLiteral("com.example.Corvane") << notice.summary
         << (markup ? notice.body.toHtmlEscaped() : notice.body) << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError())
            Q_EMIT unavailable(w->error().message());
    });
}
