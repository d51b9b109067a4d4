#pragma once
// The texts of the devices list: the window's page "Devices", its copy and export, and corvane-scan
// discover's txt, csv and json are all made from these. Names from the network are made printable
// as NetBIOS names are; csv cells a peer chose get the spreadsheet rule.

#include "discovery/DeviceSurvey.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

namespace corvane::discovery {

// A name's exact text: a NetBIOS name from its OEM code page, a DNS name as UTF-8 (bytes that are
// no UTF-8 as Latin-1, so none is lost). Not yet made printable: json carries it as it is.
QString found_name_text(const found_name& name);

enum TDeviceColumn { DeviceIP, DeviceName, DeviceSource, DeviceMAC, DeviceVendor, DeviceFoundBy, DeviceColumnCount };
QString device_heading(int column); // "IP", "Name", "Source", "MAC", "Vendor", "Found by"
QString device_text(const TDevice& device, int column);
// The address as a number, every other column by its text.
QVariant device_sort_key(const TDevice& device, int column);

QByteArray device_list_txt(const QList<const TDevice*>& devices);  // fixed columns, as nbstat's list
QByteArray device_list_csv(const QList<const TDevice*>& devices);
// One array, one object per device in the order given: address, mac (or null), vendor, name, names
// [{name, source}], evidence [words].
QByteArray device_list_json(const QList<const TDevice*>& devices);
QString device_list_copy(const QList<const TDevice*>& devices); // headings, then TAB-joined rows

} // namespace corvane::discovery
