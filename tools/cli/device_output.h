// How nasscout-cli writes devices: the table, JSON objects and the event
// lines of --watch. Every text of a record came from the network, so the
// terminal formats pass it through printable::CellText, and JSON
// (printable::AppendJsonString) replaces what is not UTF-8 and escapes every
// character a terminal could obey or that shows nothing.
#pragma once

#include "device_fields.h"
#include "device_view.h"

#include <searchdevice/deviceinfo.h>

#include <ctime>
#include <string>
#include <vector>

namespace cli {

// Header and one row per device, columns aligned, each line ending in '\n'.
std::string FormatTable(const std::vector<deviceinfo>& devices);

// One JSON object, on one line ending in '\n', with every field of the
// record in the record's order: id, ip, host, product, detail, version,
// factory, type, lifetime. Written straight into the line, without a
// document per line: --watch writes thousands in a burst.
std::string DeviceJsonLine(const deviceinfo& device);

// One --watch event, as text or as a JSON line, stamped with `when`.
std::string FormatChange(const DeviceChange& change, std::time_t when, bool json);

}  // namespace cli
