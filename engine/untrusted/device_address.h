// The addresses a device on the local network may have. Devices name their
// own address (a LOCATION URL) or it is the sender's; either way it is opened
// as http://IP and smb://IP, so only a plain address of a real host passes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The address, in host byte order, when `text` is a dotted IPv4 address in
// its one canonical form (four decimal numbers 0 to 255, no leading zeros,
// nothing before, between or after them) that some host on a LAN can have:
// not unspecified (0.0.0.0/8), loopback (127.0.0.0/8), multicast
// (224.0.0.0/4), reserved (240.0.0.0/4) or the limited broadcast.
std::optional<std::uint32_t> DeviceAddress(std::string_view text);

inline bool IsDeviceAddress(std::string_view text) { return DeviceAddress(text).has_value(); }
