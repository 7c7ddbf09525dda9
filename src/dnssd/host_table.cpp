#include "host_table.h"

#include "host_links.h"
#include "src/store/device_store.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace dnssd {

namespace {

// The file services in the order a host's name and share are taken from.
constexpr ServiceKind kFileServicesByPreference[] = {ServiceKind::Smb, ServiceKind::Afp, ServiceKind::Nfs,
                                                     ServiceKind::TimeMachine};

// As much of `text` as a record's field holds, cut where a character starts:
// a name cut short stays readable.
void CopyField(char (&field)[DEVICEINFO_TEXT_SIZE], std::string_view text)
{
    std::size_t length = std::min(text.size(), sizeof field - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), length);
}

const char* WordOf(ServiceKind kind)
{
    for (const BrowsedType& browsed : kBrowsedTypes) {
        if (browsed.kind == kind) return browsed.word;
    }
    return "";
}

// The first service of `kind`, in key order.
const HostTable::Service* FirstOf(const std::vector<HostTable::Service>& services, ServiceKind kind)
{
    const auto found = std::find_if(services.begin(), services.end(),
                                    [kind](const HostTable::Service& service) { return service.second->kind == kind; });
    return found == services.end() ? nullptr : &*found;
}

}  // namespace

std::vector<HostChange> HostTable::Resolved(const ServiceKey& key, const ResolvedService& service)
{
    auto known = services_.find(key);
    if (known == services_.end()) {
        known = services_.emplace(key, service).first;
        keysByIp_[service.ip].insert(key);
        return {ChangeAt(service.ip)};
    }
    const std::string before = known->second.ip;
    known->second = service;
    if (before == service.ip) return {ChangeAt(service.ip)};
    keysByIp_[before].erase(key);
    if (keysByIp_[before].empty()) keysByIp_.erase(before);
    keysByIp_[service.ip].insert(key);
    return {ChangeAt(before), ChangeAt(service.ip)};
}

std::vector<HostChange> HostTable::Removed(const ServiceKey& key)
{
    const auto known = services_.find(key);
    if (known == services_.end()) return {};
    const std::string ip = known->second.ip;
    services_.erase(known);
    auto keys = keysByIp_.find(ip);
    keys->second.erase(key);
    if (keys->second.empty()) keysByIp_.erase(keys);
    return {ChangeAt(ip)};
}

std::vector<HostChange> HostTable::Clear()
{
    std::vector<HostChange> changes;
    for (const auto& [ip, keys] : keysByIp_) changes.push_back({ip, std::nullopt});
    services_.clear();
    keysByIp_.clear();
    return changes;
}

std::vector<HostTable::Service> HostTable::ServicesAt(const std::string& ip) const
{
    std::vector<Service> services;
    const auto keys = keysByIp_.find(ip);
    if (keys == keysByIp_.end()) return services;
    for (const ServiceKey& key : keys->second) services.emplace_back(&key, &services_.at(key));
    return services;
}

HostChange HostTable::ChangeAt(const std::string& ip) const
{
    const std::vector<Service> services = ServicesAt(ip);
    const Service* named = nullptr;  // the host's name and id come from its first file service
    std::string offered;
    for (ServiceKind kind : kFileServicesByPreference) {
        const Service* first = FirstOf(services, kind);
        if (first == nullptr) continue;
        if (named == nullptr) named = first;
        offered += (offered.empty() ? "" : ",") + std::string(WordOf(kind));
    }
    if (named == nullptr) return {ip, std::nullopt};

    deviceinfo record;
    CopyField(record.id, named->second->hostName);
    CopyField(record.ip, ip);
    CopyField(record.host, named->first->name);
    if (const Service* info = FirstOf(services, ServiceKind::DeviceInfo)) CopyField(record.product, info->second->model);
    CopyField(record.detail, offered);
    record.type = kDnssdHostType;
    return {ip, record};
}

HostLinks HostTable::LinksOf(const std::string& ip) const
{
    HostLinks links;
    const std::vector<Service> services = ServicesAt(ip);
    if (const Service* web = FirstOf(services, ServiceKind::Https)) {
        links.webPage = WebPageUrl(true, ip, web->second->port, web->second->path);
    } else if (const Service* plain = FirstOf(services, ServiceKind::Http)) {
        links.webPage = WebPageUrl(false, ip, plain->second->port, plain->second->path);
    }
    const auto offersFiles = [](const Service& service) { return IsFileService(service.second->kind); };
    const auto afpOrNoFiles = [](const Service& service) {
        return !IsFileService(service.second->kind) || service.second->kind == ServiceKind::Afp;
    };
    const bool files = std::any_of(services.begin(), services.end(), offersFiles);
    const bool onlyAfp = std::all_of(services.begin(), services.end(), afpOrNoFiles);
    if (files) links.fileShare = std::string(onlyAfp ? "afp" : "smb") + "://" + ip;
    return links;
}

}  // namespace dnssd
