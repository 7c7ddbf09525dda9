#include "host_links.h"

#include <cctype>
#include <cstring>

namespace dnssd {

bool IsSafeWebPath(std::string_view path)
{
    if (path.empty() || path.size() > kLongestWebPath || path[0] != '/') return false;
    if (path.size() > 1 && path[1] == '/') return false;  // "//host/..." names another host
    for (std::size_t at = 0; at < path.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(path[at]);
        if (c == '%') {
            if (at + 2 >= path.size() || !std::isxdigit(static_cast<unsigned char>(path[at + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(path[at + 2])))
                return false;
            at += 2;
            continue;
        }
        if (c < 0x80 && std::isalnum(c)) continue;
        if (c == '\0' || std::strchr("-._~/?=&+,", c) == nullptr) return false;
    }
    return true;
}

std::string WebPageUrl(bool secure, const std::string& ip, std::uint16_t port, std::string_view path)
{
    std::string url = std::string(secure ? "https" : "http") + "://" + ip;
    if (port != 0 && port != (secure ? 443 : 80)) url += ":" + std::to_string(port);
    url += IsSafeWebPath(path) ? std::string(path) : std::string("/");
    return url;
}

}  // namespace dnssd
