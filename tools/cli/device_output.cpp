#include "device_output.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace cli {

namespace {

// Where the fields of a --watch text line start: after "HH:MM:SS appeared ".
constexpr std::size_t kFieldsColumn = 18;

// Bytes in the well-formed UTF-8 sequence starting at `at`, or 0. Lead bytes
// C0 and C1 (overlong forms) and F5 to FF never start one.
std::size_t SequenceLength(const std::string& text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t next = at + 1; next < at + length; ++next) {
        if ((static_cast<unsigned char>(text[next]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool IsControl(const std::string& text, std::size_t at, std::size_t length)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (length == 1) return lead < 0x20 || lead == 0x7F;
    // U+0080 to U+009F, which some terminals obey as escapes.
    return length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
}

// Characters a terminal shows for text that went through TerminalText.
std::size_t Columns(const std::string& safe)
{
    std::size_t columns = 0;
    for (char byte : safe) columns += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    return columns;
}

std::string Cell(const char (&field)[DEVICEINFO_TEXT_SIZE])
{
    const std::string safe = TerminalText(FieldText(field));
    return safe.empty() ? "-" : safe;
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

}  // namespace

std::string TerminalText(const std::string& text)
{
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0 || IsControl(text, at, length)) {
            safe += '?';
            at += std::max<std::size_t>(length, 1);
            continue;
        }
        safe.append(text, at, length);
        at += length;
    }
    return safe;
}

std::string FormatTable(const std::vector<deviceinfo>& devices)
{
    using Row = std::array<std::string, 6>;
    std::vector<Row> rows{{"HOST", "IP", "MODEL", "VENDOR", "FIRMWARE", "ID"}};
    for (const deviceinfo& device : devices) {
        rows.push_back({Cell(device.host), Cell(device.ip), Cell(device.product), Cell(device.factory),
                        Cell(device.version), Cell(device.id)});
    }
    std::array<std::size_t, 6> widths{};
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], Columns(row[column]));
        }
    }
    std::string table;
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            table += row[column];
            if (column + 1 == row.size()) break;
            table.append(widths[column] - Columns(row[column]) + 2, ' ');
        }
        table += '\n';
    }
    return table;
}

nlohmann::ordered_json DeviceJson(const deviceinfo& device)
{
    nlohmann::ordered_json object;
    AddDeviceFields(device, object);
    return object;
}

void AddDeviceFields(const deviceinfo& device, nlohmann::ordered_json& object)
{
    object["id"] = FieldText(device.id);
    object["ip"] = FieldText(device.ip);
    object["host"] = FieldText(device.host);
    object["product"] = FieldText(device.product);
    object["detail"] = FieldText(device.detail);
    object["version"] = FieldText(device.version);
    object["factory"] = FieldText(device.factory);
    object["type"] = device.type;
    object["lifetime"] = device.lifetime;
}

std::string JsonLine(const nlohmann::ordered_json& value)
{
    // dump() throws on bytes that are not UTF-8, and devices send any bytes.
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string FormatChange(const DeviceChange& change, std::time_t when, bool json)
{
    const bool left = change.kind == DeviceChange::Kind::Left;
    const char* reason = change.byebye ? "bye-bye" : "aged out";
    if (json) {
        nlohmann::ordered_json event{{"event", EventName(change.kind)}, {"time", UtcTime(when)}};
        AddDeviceFields(change.device, event);
        if (left) event["reason"] = reason;
        return JsonLine(event);
    }
    std::string line = TimeOfDay(when) + " " + EventName(change.kind);
    line.append(kFieldsColumn - line.size(), ' ');
    const deviceinfo& device = change.device;
    line += "ip=" + Cell(device.ip) + " host=" + Cell(device.host) + " model=" + Cell(device.product) +
            " vendor=" + Cell(device.factory) + " firmware=" + Cell(device.version) + " id=" + Cell(device.id);
    if (left) line += std::string(" (") + reason + ")";
    return line + "\n";
}

}  // namespace cli
