#include "device_output.h"

#include "engine/untrusted/printable_text.h"
#include "src/store/device_store.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace cli {

namespace {

// Where the fields of a --watch text line start: after "HH:MM:SS appeared ".
constexpr std::size_t kFieldsColumn = 18;

std::string Cell(const char (&field)[DEVICEINFO_TEXT_SIZE])
{
    const std::string safe = printable::CellText(FieldText(field));
    return safe.empty() ? "-" : safe;
}

// A --watch text value: quoted where it holds a blank, '=' or '"', so that
// each field stays one word for awk and cut.
std::string Value(const char (&field)[DEVICEINFO_TEXT_SIZE])
{
    const std::string cell = Cell(field);
    if (cell.find_first_of(" =\"\\") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string TimeOfDay(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string UtcTime(std::time_t when)
{
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

const char* EventName(DeviceChange::Kind kind)
{
    switch (kind) {
    case DeviceChange::Kind::Appeared:
        return "appeared";
    case DeviceChange::Kind::Changed:
        return "changed";
    case DeviceChange::Kind::Left:
        return "left";
    }
    return "";
}

// The record's fields as JSON members after `json`'s text, each after a comma.
void AppendDeviceMembers(const deviceinfo& device, std::string& json)
{
    const std::pair<const char*, const char (*)[DEVICEINFO_TEXT_SIZE]> texts[] = {
        {"id", &device.id},           {"ip", &device.ip},           {"host", &device.host},
        {"product", &device.product}, {"detail", &device.detail},   {"version", &device.version},
        {"factory", &device.factory},
    };
    for (const auto& [key, field] : texts) {
        json += ",\"";
        json += key;
        json += "\":";
        printable::AppendJsonString(json, printable::Field(*field));
    }
    json += ",\"type\":" + std::to_string(device.type) + ",\"lifetime\":" + std::to_string(device.lifetime);
}

void AppendFoundBy(const deviceinfo& device, std::string& json)
{
    json += ",\"found\":\"";
    json += FoundBy(device);
    json += '"';
}

}  // namespace

const char* FoundBy(const deviceinfo& device) { return device.type == kDnssdHostType ? "dns-sd" : "nasscout"; }

std::string FormatTable(const std::vector<deviceinfo>& devices, bool foundBy)
{
    using Row = std::vector<std::string>;
    std::vector<Row> rows{{"HOST", "IP", "MODEL", "VENDOR", "FIRMWARE", "ID"}};
    if (foundBy) rows.front().push_back("FOUND");
    for (const deviceinfo& device : devices) {
        rows.push_back({Cell(device.host), Cell(device.ip), Cell(device.product), Cell(device.factory),
                        Cell(device.version), Cell(device.id)});
        if (foundBy) rows.back().push_back(FoundBy(device));
    }
    std::vector<std::size_t> widths(rows.front().size());
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], printable::DisplayWidth(row[column]));
        }
    }
    std::string table;
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            table += row[column];
            if (column + 1 == row.size()) break;
            table.append(widths[column] - printable::DisplayWidth(row[column]) + 2, ' ');
        }
        table += '\n';
    }
    return table;
}

std::string DeviceJsonLine(const deviceinfo& device, bool foundBy)
{
    std::string line = "{";
    AppendDeviceMembers(device, line);
    if (foundBy) AppendFoundBy(device, line);
    line.erase(1, 1);  // the first member's comma
    return line + "}\n";
}

std::string FormatChange(const DeviceChange& change, std::time_t when, bool json, bool foundBy)
{
    const bool left = change.kind == DeviceChange::Kind::Left;
    const char* reason = change.byebye ? "bye-bye" : "aged out";
    if (json) {
        std::string line = std::string("{\"event\":\"") + EventName(change.kind) + "\",\"time\":\"" + UtcTime(when) + "\"";
        AppendDeviceMembers(change.device, line);
        if (foundBy) AppendFoundBy(change.device, line);
        if (left) line += std::string(",\"reason\":\"") + reason + "\"";
        return line + "}\n";
    }
    std::string line = TimeOfDay(when) + " " + EventName(change.kind);
    line.append(kFieldsColumn - line.size(), ' ');
    const deviceinfo& device = change.device;
    line += "ip=" + Value(device.ip) + " host=" + Value(device.host) + " model=" + Value(device.product) +
            " vendor=" + Value(device.factory) + " firmware=" + Value(device.version) + " id=" + Value(device.id);
    if (foundBy) line += std::string(" found=") + FoundBy(device);
    if (left) line += std::string(" (") + reason + ")";
    return line + "\n";
}

}  // namespace cli
