#include "sim_device.h"

#include "engine/untrusted/device_address.h"
#include "engine/untrusted/printable_text.h"
#include "engine/wire/wire_protocol.h"

#include <searchdevice/deviceinfo.h>
#include <searchdevice/dhcppacket.h>

#include <boost/asio/ip/address_v4.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ios>
#include <set>

namespace sim {

namespace {

const DeviceField* FindField(const std::string& key)
{
    for (const DeviceField& field : kDeviceFields) {
        if (key == field.first) return &field;
    }
    return nullptr;
}

// What came from the command line or a file, quoted and escaped: every
// message of ours is one line a terminal shows as it is.
std::string Quoted(const std::string& text) { return "\"" + printable::LineText(text) + "\""; }

// What the receiver keeps of each text: a record field of 32 bytes with its terminator.
constexpr std::size_t kLongestText = DEVICEINFO_TEXT_SIZE - 1;
// ... and of vendor/host/product/detail in SERVER, before it splits them.
constexpr std::size_t kLongestProductPart = 63;

// With the texts checked below, the largest datagrams fit without a check of their own.
static_assert(sizeof wire::kNotifyByebyeLayout - 1 + kDeviceFields.size() * kLongestText <= wire::kMaxDatagramSize,
              "the largest announcement fits one datagram");
static_assert(sizeof wire::kBroadcastReplyLayout - 1 + kLongestText + kLongestProductPart <= DHCPPACKET_TEXT_SIZE,
              "the longest id, host, vendor and product fit the broadcast reply's text area");

// A receiver finds each value between separators it searches for, so a
// value must not contain the separators around it.
bool CheckValue(const char* key, const std::string& value, const char* forbidden, std::string& error)
{
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7F) {
            error = std::string(key) + " " + Quoted(value) + " contains a control character";
            return false;
        }
        if (std::strchr(forbidden, c) != nullptr) {
            error = std::string(key) + " " + Quoted(value) + " contains '" + static_cast<char>(c) +
                    "', which the receiver takes for a separator";
            return false;
        }
    }
    return true;
}

// The receiver takes the first "USN:" of a datagram for the header, and
// these texts come before it.
bool CheckBeforeUsn(const char* key, const std::string& value, std::string& error)
{
    if (value.find(wire::kUsnHeader) == std::string::npos) return true;
    error = std::string(key) + " " + Quoted(value) + " contains \"" + wire::kUsnHeader +
            "\", which the receiver takes for the header that carries the id";
    return false;
}

}  // namespace

bool CheckDevice(const SimDevice& device, std::string& error)
{
    // The receiver reads the dotted form only, and drops an address no device can have.
    if (!IsDeviceAddress(device.ip)) {
        error = "ip " + Quoted(device.ip) +
                " is no device's address: the dotted form of a unicast IPv4 address outside 0.0.0.0/8, "
                "127.0.0.0/8 and 224.0.0.0 upwards";
        return false;
    }
    if (device.id.empty()) {
        error = "id is empty";
        return false;
    }
    for (const DeviceField& field : kDeviceFields) {
        const std::string& value = device.*(field.second);
        if (value.size() > kLongestText) {
            error = std::string(field.first) + " " + Quoted(value) + " is " + std::to_string(value.size()) +
                    " bytes long; the receiver keeps " + std::to_string(kLongestText);
            return false;
        }
    }
    // '&' and '=' would split the broadcast reply's key=value text; '/'
    // splits the vendor/host/product/detail part of SERVER and ',' ends its version.
    if (!CheckValue("id", device.id, "&=", error) || !CheckValue("host", device.host, "&=/", error) ||
        !CheckValue("vendor", device.vendor, "&=/", error) ||
        !CheckValue("product", device.product, "&=/", error) || !CheckValue("detail", device.detail, "", error) ||
        !CheckValue("version", device.version, ",", error)) {
        return false;
    }
    if (!CheckBeforeUsn("version", device.version, error) || !CheckBeforeUsn("vendor", device.vendor, error) ||
        !CheckBeforeUsn("host", device.host, error) || !CheckBeforeUsn("product", device.product, error) ||
        !CheckBeforeUsn("detail", device.detail, error)) {
        return false;
    }
    // The id ends at the first "::" after it.
    if (device.id.find("::") != std::string::npos || device.id.back() == ':') {
        error = "id " + Quoted(device.id) +
                " contains \"::\" or ends in ':'; the receiver ends the id at the first \"::\"";
        return false;
    }
    const std::size_t productPart = device.vendor.size() + device.host.size() + device.product.size() +
                                    device.detail.size() + 3;
    if (productPart > kLongestProductPart) {
        error = "vendor, host, product and detail are too long for SERVER: " + std::to_string(productPart) +
                " bytes with their separators, at most " + std::to_string(kLongestProductPart);
        return false;
    }
    return true;
}

bool ParseDeviceText(const std::string& text, SimDevice& device, std::string& error)
{
    const std::string where = "--device " + Quoted(text) + ": ";
    std::set<std::string> seen;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            error = where + Quoted(pair) + " is not key=value";
            return false;
        }
        const std::string key = pair.substr(0, equals);
        const DeviceField* field = FindField(key);
        if (field == nullptr) {
            error = where + "unknown key " + Quoted(key);
            return false;
        }
        if (!seen.insert(key).second) {
            error = where + "key " + Quoted(key) + " given twice";
            return false;
        }
        device.*(field->second) = pair.substr(equals + 1);
        start = end + 1;
    }
    for (const DeviceField& field : kDeviceFields) {
        if (seen.count(field.first) == 0) {
            error = where + "no " + field.first + "=";
            return false;
        }
    }
    if (!CheckDevice(device, error)) {
        error = where + error;
        return false;
    }
    return true;
}

bool ReadJsonFile(const std::string& path, nlohmann::json& document, std::string& error)
{
    // A directory opens like a file and fails only when read, with an exception of the stream's.
    const std::string shown = printable::LineText(path);
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = shown + ": cannot read: it is a directory";
        return false;
    }
    std::ifstream file(path);
    if (!file) {
        error = shown + ": cannot read: " + std::strerror(errno);
        return false;
    }
    try {
        document = nlohmann::json::parse(file);
    } catch (const nlohmann::json::exception& failure) {
        // Drop the library's "[json.exception.parse_error.101] " prefix; the
        // rest names line and column, or the number too large for a double.
        std::string reason = failure.what();
        const std::size_t prefixEnd = reason.find("] ");
        if (prefixEnd != std::string::npos) reason.erase(0, prefixEnd + 2);
        error = shown + ": not valid JSON: " + printable::LineText(reason);
        return false;
    } catch (const std::ios_base::failure&) {
        error = shown + ": cannot read: " + std::strerror(errno);
        return false;
    }
    return true;
}

bool LoadDeviceFile(const std::string& path, std::vector<SimDevice>& devices, std::string& error,
                    const ExtraDeviceKey* extra)
{
    nlohmann::json document;
    if (!ReadJsonFile(path, document, error)) {
        error = "--devices " + error;
        return false;
    }
    if (document.is_object() && document.contains("devices")) document = document["devices"];
    if (!document.is_array() || document.empty()) {
        error = printable::LineText(path) + ": expected {\"devices\": [...]} or an array of devices, with one at least";
        return false;
    }
    for (std::size_t index = 0; index < document.size(); ++index) {
        const nlohmann::json& entry = document[index];
        const std::string where = printable::LineText(path) + ": device " + std::to_string(index + 1) + ": ";
        if (!entry.is_object()) {
            error = where + "not an object";
            return false;
        }
        for (const auto& item : entry.items()) {
            const bool extraKey = extra != nullptr && item.key() == extra->name;
            if (!extraKey && FindField(item.key()) == nullptr) {
                error = where + "unknown key " + Quoted(item.key());
                return false;
            }
            if (extraKey && !extra->take(item.value(), index, error)) {
                error = where + error;
                return false;
            }
        }
        SimDevice device;
        for (const DeviceField& field : kDeviceFields) {
            const auto value = entry.find(field.first);
            if (value == entry.end()) {
                error = where + "no " + Quoted(field.first);
                return false;
            }
            if (!value->is_string()) {
                error = where + Quoted(field.first) + " is not a string";
                return false;
            }
            device.*(field.second) = value->get<std::string>();
        }
        if (!CheckDevice(device, error)) {
            error = where + error;
            return false;
        }
        devices.push_back(device);
    }
    return true;
}

bool GenerateDevices(int count, const std::string& firstAddress, std::vector<SimDevice>& devices,
                     std::string& error)
{
    if (count < 0) {
        error = "--count " + std::to_string(count) + " is negative";
        return false;
    }
    if ((count > 0) != !firstAddress.empty()) {
        error = count > 0 ? "--count needs --first-address" : "--first-address needs --count";
        return false;
    }
    if (count == 0) return true;
    if (count > kMostGeneratedDevices) {
        error = "--count " + std::to_string(count) + " is more than " + std::to_string(kMostGeneratedDevices) +
                ", the most devices one run plays";
        return false;
    }
    boost::system::error_code failure;
    const boost::asio::ip::address_v4 first = boost::asio::ip::make_address_v4(firstAddress, failure);
    if (failure) {
        error = "--first-address " + Quoted(firstAddress) + " is not an IPv4 address";
        return false;
    }
    for (int index = 0; index < count; ++index) {
        const unsigned long raw = first.to_ulong() + static_cast<unsigned long>(index);
        if (raw > 0xFFFFFFFEul) {
            error = "--count " + std::to_string(count) + " from " + firstAddress + " runs past the last address";
            return false;
        }
        char number[16];
        std::snprintf(number, sizeof number, "%04d", index + 1);
        SimDevice device;
        device.ip = boost::asio::ip::address_v4(static_cast<boost::asio::ip::address_v4::uint_type>(raw)).to_string();
        device.id = std::string("sim-") + number;
        device.host = std::string("nas-") + number;
        device.vendor = "ZORVA";
        device.product = "NS200";
        device.detail = "A1";
        device.version = "2.1.0";
        if (!CheckDevice(device, error)) {
            error = "--first-address " + firstAddress + ": generated device " + std::to_string(index + 1) + ": " + error;
            return false;
        }
        devices.push_back(device);
    }
    return true;
}

}  // namespace sim
