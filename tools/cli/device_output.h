// How nasscout-cli writes devices: the table, JSON objects and the event
// lines of --watch. Every text of a record came from the network, so the
// terminal formats pass it through printable::CellText, and JSON replaces
// what is not UTF-8 and escapes every character a terminal could obey or
// that shows nothing.
#pragma once

#include "device_fields.h"
#include "device_view.h"

#include <searchdevice/deviceinfo.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <string>
#include <vector>

namespace cli {

// Header and one row per device, columns aligned, each line ending in '\n'.
std::string FormatTable(const std::vector<deviceinfo>& devices);

// Every field of the record, in the record's order.
nlohmann::ordered_json DeviceJson(const deviceinfo& device);
// The same fields, added to `object` after what it holds.
void AddDeviceFields(const deviceinfo& device, nlohmann::ordered_json& object);

// One line of JSON ending in '\n'; bytes that are not UTF-8 become U+FFFD;
// control and format characters are \u escapes.
std::string JsonLine(const nlohmann::ordered_json& value);

// One --watch event, as text or as a JSON line, stamped with `when`.
std::string FormatChange(const DeviceChange& change, std::time_t when, bool json);

}  // namespace cli
