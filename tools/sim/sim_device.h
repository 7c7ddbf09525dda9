// The simulated devices: what each one is, and the three ways to describe
// them (a --device text, a JSON file, or a generated run of addresses).
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct SimDevice {
    std::string ip;  // local IPv4 address the device answers from
    std::string id;
    std::string host;
    std::string vendor;
    std::string product;
    std::string detail;
    std::string version;  // firmware version, sent after the firmware token
};

// Every field by the key that --device and the JSON file use for it.
using DeviceField = std::pair<const char*, std::string SimDevice::*>;
inline const std::array<DeviceField, 7> kDeviceFields = {{
    {"ip", &SimDevice::ip},
    {"id", &SimDevice::id},
    {"host", &SimDevice::host},
    {"vendor", &SimDevice::vendor},
    {"product", &SimDevice::product},
    {"detail", &SimDevice::detail},
    {"version", &SimDevice::version},
}};

// Each operation below returns false and writes a message for a person to
// `error` when its input is unusable; the message names the offending key,
// device or file, on one line without control characters (what the input
// held is escaped). A device that comes back true has passed CheckDevice.

// Reads "ip=...,id=...,host=...,vendor=...,product=...,detail=...,version=...";
// every key exactly once.
bool ParseDeviceText(const std::string& text, SimDevice& device, std::string& error);

// Reads the JSON document in the file at `path`; the message names the file
// ("PATH: cannot read: ..." or "PATH: not valid JSON: ..."). A directory, a
// read error and a number too large for a double are refused like broken JSON.
bool ReadJsonFile(const std::string& path, nlohmann::json& document, std::string& error);

// A key a device file may hold beside a device's own, and what becomes of it.
struct ExtraDeviceKey {
    const char* name;
    // Takes the key's value for the file's device at `index` (from 0); false, with a
    // message for `error`, when the value is unusable.
    std::function<bool(const nlohmann::json& value, std::size_t index, std::string& error)> take;
};

// Appends the devices of a JSON file: {"devices": [{"ip": ..., ...}, ...]} or
// the array alone, each object with the keys of kDeviceFields and, where
// given, `extra`'s. The message names the file and the device.
bool LoadDeviceFile(const std::string& path, std::vector<SimDevice>& devices, std::string& error,
                    const ExtraDeviceKey* extra = nullptr);

// The most devices --count makes: a /16, half the benchmark range, far above
// the thousands the benchmark plays. Each address costs the simulator a
// socket and the lab an address on one host; more would only wear out memory
// and descriptors. An engine on another host (as the lab keeps it) takes any
// number; one on the devices' own host stops adding per-address workers at
// port 65535, after 3201 addresses, and still finds every device by multicast.
constexpr int kMostGeneratedDevices = 65536;

// Appends `count` devices on consecutive addresses from `firstAddress`, with
// ids sim-0001, sim-0002 ... and host names nas-0001, nas-0002 ...; at most
// kMostGeneratedDevices. The two come together, as --count and
// --first-address: a count of 0 with no address adds nothing.
bool GenerateDevices(int count, const std::string& firstAddress, std::vector<SimDevice>& devices,
                     std::string& error);

// True when every field can go on the wire unchanged and be read back as the
// same value by the engine's parsers of the broadcast reply and of SSDP: a
// dotted unicast ip; at most 31 bytes a text; no control characters; no
// separator inside a value ('&', '=', '/', ','); no "USN:" before the USN
// header; an id without "::" and not ending in ':'; SERVER's vendor/host/
// product/detail within 63 bytes.
bool CheckDevice(const SimDevice& device, std::string& error);

}  // namespace sim
