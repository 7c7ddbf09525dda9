// The simulated devices: what each one is, and the three ways to describe
// them (a --device text, a JSON file, or a generated run of addresses).
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <array>
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
// device or file. A device that comes back true has passed CheckDevice.

// Reads "ip=...,id=...,host=...,vendor=...,product=...,detail=...,version=...";
// every key exactly once.
bool ParseDeviceText(const std::string& text, SimDevice& device, std::string& error);

// Reads the JSON document in the file at `path`; the message names the file
// ("PATH: cannot read: ..." or "PATH: not valid JSON: ...").
bool ReadJsonFile(const std::string& path, nlohmann::json& document, std::string& error);

// Appends the devices of a JSON file: {"devices": [{"ip": ..., ...}, ...]}.
bool LoadDeviceFile(const std::string& path, std::vector<SimDevice>& devices, std::string& error);

// Appends `count` devices on consecutive addresses from `firstAddress`, with
// ids sim-0001, sim-0002 ... and host names nas-0001, nas-0002 ...
bool GenerateDevices(int count, const std::string& firstAddress, std::vector<SimDevice>& devices,
                     std::string& error);

// True when every field can go on the wire unchanged and be read back as the
// same value by a receiver that splits the texts at their separators.
bool CheckDevice(const SimDevice& device, std::string& error);

}  // namespace sim
