// The DNS-SD service types the source browses, and what each says of a host.
// A host that offers one of the file services is a NAS; one that offers only
// a web page (or anything else) is not listed.
#pragma once

#include <optional>
#include <string_view>

namespace dnssd {

enum class ServiceKind {
    Smb,         // _smb._tcp: a Windows file share
    Afp,         // _afpovertcp._tcp: an Apple file share
    Nfs,         // _nfs._tcp
    TimeMachine, // _adisk._tcp: a backup disk
    DeviceInfo,  // _device-info._tcp: no service; its TXT "model=" names the model
    Http,        // _http._tcp: the web page; TXT "path=" where it starts
    Https,       // _https._tcp: the same over TLS
};

struct BrowsedType {
    const char* type;
    ServiceKind kind;
    const char* word;  // in a record's detail and in JSON
};

inline constexpr BrowsedType kBrowsedTypes[] = {
    {"_smb._tcp", ServiceKind::Smb, "smb"},
    {"_afpovertcp._tcp", ServiceKind::Afp, "afp"},
    {"_nfs._tcp", ServiceKind::Nfs, "nfs"},
    {"_adisk._tcp", ServiceKind::TimeMachine, "adisk"},
    {"_device-info._tcp", ServiceKind::DeviceInfo, "device-info"},
    {"_http._tcp", ServiceKind::Http, "http"},
    {"_https._tcp", ServiceKind::Https, "https"},
};

inline std::optional<ServiceKind> KindOfType(std::string_view type)
{
    for (const BrowsedType& browsed : kBrowsedTypes) {
        if (type == browsed.type) return browsed.kind;
    }
    return std::nullopt;
}

inline bool IsFileService(ServiceKind kind)
{
    return kind == ServiceKind::Smb || kind == ServiceKind::Afp || kind == ServiceKind::Nfs ||
           kind == ServiceKind::TimeMachine;
}

}  // namespace dnssd
