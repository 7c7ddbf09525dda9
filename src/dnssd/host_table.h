// What the DNS-SD source knows: every resolved service instance, grouped by
// the IPv4 address of its host, and what that makes of each address: a
// record for the store when the host offers a file service, and the links
// of its web page and its file share.
//
// Not thread-safe: the source calls it under its own mutex.
#pragma once

#include "service_types.h"

#include <searchdevice/deviceinfo.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace dnssd {

// One service instance, as Avahi names it.
struct ServiceKey {
    int interface = 0;
    std::string name;  // the instance name, "Office NAS"
    std::string type;  // "_smb._tcp"
    std::string domain;

    bool operator<(const ServiceKey& other) const
    {
        return std::tie(interface, name, type, domain) < std::tie(other.interface, other.name, other.type, other.domain);
    }
};

// What a resolved service says, as far as the table keeps it.
struct ResolvedService {
    ServiceKind kind = ServiceKind::Smb;
    std::string hostName;  // "nas-b.local"
    std::string ip;        // dotted, an address a device can have
    std::uint16_t port = 0;
    std::string model;  // _device-info._tcp: TXT model=
    std::string path;   // _http._tcp, _https._tcp: TXT path=
};

// Where "Log In" and "My storage" go for a host; empty when nothing at the
// address offers them.
struct HostLinks {
    std::string webPage;    // its advertised web page
    std::string fileShare;  // smb://IP, or afp://IP when that is its only file service
};

// What a change made of one address.
struct HostChange {
    std::string ip;
    std::optional<deviceinfo> record;  // the host to list; none: no NAS there (any more)
};

class HostTable {
public:
    using Service = std::pair<const ServiceKey*, const ResolvedService*>;

    // A service resolved, first or again: the change at its address, and at
    // the address it had before if it moved.
    std::vector<HostChange> Resolved(const ServiceKey& key, const ResolvedService& service);

    // A service gone: the change at its address, if it was known.
    std::vector<HostChange> Removed(const ServiceKey& key);

    // Forgets every service (the daemon went away): a change per address.
    std::vector<HostChange> Clear();

    HostLinks LinksOf(const std::string& ip) const;

private:
    HostChange ChangeAt(const std::string& ip) const;
    // The services at an address, in key order.
    std::vector<Service> ServicesAt(const std::string& ip) const;

    std::map<ServiceKey, ResolvedService> services_;
    std::map<std::string, std::set<ServiceKey>> keysByIp_;
};

}  // namespace dnssd
