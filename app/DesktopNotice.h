#pragma once
// The desktop notification of a recorded devices survey: its text (widget-free, for tests) and the
// call to org.freedesktop.Notifications on the session bus, which GNOME and KDE answer without a tray.

#include "inventory/Inventory.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

struct TDeviceNotice
{
    QString summary; // the new devices, or the gone ones when none is new
    QString body; // the gone devices after new ones; else empty
};

// How many devices one notice names; the rest are counted.
constexpr int kNoticeDevices = 5;

// "NAME (ADDRESS)" with the best name made printable, or "ADDRESS" for a device without a name.
QString notice_device(const corvane::inventory::TEvent& event);
// "3 new devices: PC1 (10.0.0.1), 10.0.0.7, NAS (10.0.0.9)", "1 gone device: ..." and, past five
// devices named in all, "... and 2 more". Nothing when there is nothing to tell.
std::optional<TDeviceNotice> device_notice(const std::vector<corvane::inventory::TEvent>& events, bool withGone);

// Sends notices; each call that cannot be delivered (no session bus, no notification service)
// reports why.
class TDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    void notify(const TDeviceNotice& notice);

Q_SIGNALS:
    void unavailable(const QString& why);

private:
    void send(const TDeviceNotice& notice, bool markup);
};
