// Where "Log In" and "My storage" take the user for a host found through
// DNS-SD. Everything but the address comes from the network, so each part is
// checked strictly: the address is the host's own, the port a number, the
// path nothing but a path. No user or host part from the network reaches a
// URL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dnssd {

// The most bytes of a path= value that make a web page's path.
constexpr std::size_t kLongestWebPath = 255;

// A path that starts with exactly one '/' and holds only letters, digits,
// "-._~/?=&+," and %-escapes of two hex digits: no scheme, no "//host", no
// user, no blank, nothing a terminal or a shell would read.
bool IsSafeWebPath(std::string_view path);

// scheme://IP[:PORT]PATH: https when `secure`; the port left out when it is
// the scheme's own or 0; PATH the TXT record's path= when IsSafeWebPath
// says so, else "/".
std::string WebPageUrl(bool secure, const std::string& ip, std::uint16_t port, std::string_view path);

}  // namespace dnssd
