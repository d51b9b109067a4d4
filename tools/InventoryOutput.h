#pragma once
// corvane-scan devices: the inventory's devices as txt, csv or json. Names are stored as received (any
// byte): txt makes them printable as the devices list does, csv guards them as a peer's text, json
// carries them exactly, escaped.

#include "inventory/Inventory.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace corvane::scan {

// Fixed columns, CR LF: MAC, Vendor, Address, First seen, Last seen, Seen, State, Names.
QByteArray inventory_devices_txt(const std::vector<corvane::inventory::TInventoryDevice>& devices);
// The same columns; times ISO 8601 UTC.
QByteArray inventory_devices_csv(const std::vector<corvane::inventory::TInventoryDevice>& devices);
// One array, one object per device: mac (or null), vendor, address, name, names [{name, source,
// last_seen}], first_seen, last_seen, times_seen, state ("present" or "gone").
QByteArray inventory_devices_json(const std::vector<corvane::inventory::TInventoryDevice>& devices);

} // namespace corvane::scan
