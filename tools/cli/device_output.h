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

// How a device was found, with --all-makes: "nasscout" (the engine) or
// "dns-sd" (the DNS-SD source).
const char* FoundBy(const deviceinfo& device);

// Header and one row per device, columns aligned, each line ending in '\n';
// with `foundBy` a last column FOUND.
std::string FormatTable(const std::vector<deviceinfo>& devices, bool foundBy = false);

// One JSON object, on one line ending in '\n', with every field of the
// record in the record's order: id, ip, host, product, detail, version,
// factory, type, lifetime, and with `foundBy` found. Written straight into
// the line, without a document per line: --watch writes thousands in a burst.
std::string DeviceJsonLine(const deviceinfo& device, bool foundBy = false);

// One --watch event, as text or as a JSON line, stamped with `when`; with
// `foundBy` it says how the device was found (found=, "found").
std::string FormatChange(const DeviceChange& change, std::time_t when, bool json, bool foundBy = false);

}  // namespace cli
