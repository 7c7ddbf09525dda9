// Reading SSDP-style answers and announcements into a device record. Pure
// functions, safe on any thread; they allocate nothing and read only the
// bytes they are given.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <cstddef>

// The first character of text that is neither a blank nor a tab; null for
// null. text must be zero-terminated.
const char* SkipSpaces(const char* text);

// The same, for text that ends at end rather than at a zero: returns end if
// only blanks and tabs are left.
const char* SkipSpaces(const char* text, const char* end);

// Parses one received datagram: the length bytes at data, up to the first
// zero byte among them (nothing past data + length is read, so no terminator
// is needed). sender is the sender's dotted address, zero-terminated, used
// as ip when there is no "LOCATION:". All searches are case-sensitive.
//
// Returns false when the datagram is dropped (no "VELD", a malformed
// LOCATION URL, an ip that no device can have (IsDeviceAddress), no USN
// identifier, or neither an "HTTP" answer nor a NOTIFY with "rootdevice" and
// "NTS:"); device is then untouched. Returns true with device overwritten by
// a new record: id, ip, version, and from SERVER's product text
// factory/host/product/detail, each cut to 31 characters; type 1 for an
// answer, 2 for ssdp:alive, 4 for ssdp:byebye, 0 for any other NTS value;
// lifetime 60.
bool ParseSsdpMessage(const char* data, std::size_t length, const char* sender, deviceinfo& device);
