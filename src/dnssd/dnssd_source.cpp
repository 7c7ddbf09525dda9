#include "dnssd_source.h"

#include "engine/untrusted/device_address.h"
#include "engine/untrusted/printable_text.h"
#include "host_links.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <arpa/inet.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace dnssd {

namespace {

using Lock = AnnotatedLock<AnnotatedMutex<std::mutex>>;

// Retried this often while the daemon is away.
constexpr int kReconnectSeconds = 2;

// The value of TXT `key`, up to its first zero byte; empty when absent.
std::string TxtValue(AvahiStringList* txt, const char* key, std::size_t longest)
{
    AvahiStringList* item = avahi_string_list_find(txt, key);
    if (item == nullptr) return "";
    char* name = nullptr;
    char* value = nullptr;
    std::size_t size = 0;
    if (avahi_string_list_get_pair(item, &name, &value, &size) != 0) return "";
    std::string text = value == nullptr ? "" : std::string(value, strnlen(value, std::min(size, longest + 1)));
    avahi_free(name);
    avahi_free(value);
    return text;
}

// The dotted form of an IPv4 address that a device can have; none otherwise.
std::optional<std::string> DeviceIp(const AvahiAddress* address)
{
    if (address == nullptr || address->proto != AVAHI_PROTO_INET) return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address->data.ipv4.address, text, sizeof text) == nullptr) return std::nullopt;
    if (!IsDeviceAddress(text)) return std::nullopt;
    return std::string(text);
}

ServiceKey KeyOf(AvahiIfIndex interface, const char* name, const char* type, const char* domain)
{
    return {interface, name == nullptr ? "" : name, type == nullptr ? "" : type, domain == nullptr ? "" : domain};
}

}  // namespace

// Avahi calls these on its thread, with its poll lock held.
struct DnssdSource::Callbacks {
    static void OnClientState(AvahiClient* client, AvahiClientState state, void* data)
    {
        auto* source = static_cast<DnssdSource*>(data);
        source->client_ = client;  // also during avahi_client_new, before it returns
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            source->Browse();
            break;
        case AVAHI_CLIENT_CONNECTING:
            source->SayUnavailable();
            break;
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away: what it found goes too, and a new client waits for it.
            source->Say(std::string("DNS-SD: avahi-daemon went away (") + avahi_strerror(avahi_client_errno(client)) +
                        "): devices of other makes are found again once it runs");
            source->saidUnavailable_ = true;
            source->ForgetEverything();
            ScheduleReconnect(source);
            break;
        default:
            break;
        }
    }

    static void ScheduleReconnect(DnssdSource* source)
    {
        const AvahiPoll* api = avahi_threaded_poll_get(source->poll_);
        struct timeval at {};
        gettimeofday(&at, nullptr);
        at.tv_sec += kReconnectSeconds;
        api->timeout_new(api, &at, OnReconnect, source);
    }

    static void OnReconnect(AvahiTimeout* timeout, void* data)
    {
        auto* source = static_cast<DnssdSource*>(data);
        avahi_threaded_poll_get(source->poll_)->timeout_free(timeout);
        if (source->client_ != nullptr) avahi_client_free(source->client_);
        source->client_ = nullptr;
        if (!source->Connect()) ScheduleReconnect(source);
    }

    static void OnBrowse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                         const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* data)
    {
        auto* source = static_cast<DnssdSource*>(data);
        const ServiceKey key = KeyOf(interface, name, type, domain);
        if (event == AVAHI_BROWSER_NEW) {
            if (source->resolvers_.count(key) != 0) return;
            if (source->resolvers_.size() >= kMostServices) {
                if (!source->saidTurnedAway_)
                    source->Say("DNS-SD: more than " + std::to_string(kMostServices) +
                                " services announced: the others are not followed");
                source->saidTurnedAway_ = true;
                return;
            }
            AvahiServiceResolver* resolver =
                avahi_service_resolver_new(source->client_, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                                           AvahiLookupFlags(0), OnResolve, source);
            if (resolver != nullptr) source->resolvers_.emplace(key, resolver);
        } else if (event == AVAHI_BROWSER_REMOVE) {
            source->ForgetService(key);
        }
    }

    static void OnResolve(AvahiServiceResolver*, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
                          const char* name, const char* type, const char* domain, const char* hostName,
                          const AvahiAddress* address, uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                          void* data)
    {
        auto* source = static_cast<DnssdSource*>(data);
        const ServiceKey key = KeyOf(interface, name, type, domain);
        const std::optional<ServiceKind> kind = KindOfType(key.type);
        const std::optional<std::string> ip = DeviceIp(address);
        if (event != AVAHI_RESOLVER_FOUND || !kind || !ip || hostName == nullptr) {
            // Unresolvable, or an address no device can have: as if it had gone.
            source->ForgetService(key);
            return;
        }
        ResolvedService service;
        service.kind = *kind;
        service.hostName = hostName;
        service.ip = *ip;
        service.port = port;
        if (*kind == ServiceKind::DeviceInfo) service.model = TxtValue(txt, "model", DEVICEINFO_TEXT_SIZE);
        if (*kind == ServiceKind::Http || *kind == ServiceKind::Https) service.path = TxtValue(txt, "path", kLongestWebPath);
        std::vector<HostChange> changes;
        {
            Lock lock(source->mutex_);
            changes = source->table_.Resolved(key, service);
        }
        source->Apply(changes);
    }
};

DnssdSource::DnssdSource(DeviceStore* store, std::string program) : store_(store), program_(std::move(program)) {}

DnssdSource::~DnssdSource() { Stop(); }

bool DnssdSource::Start()
{
    if (poll_ != nullptr) return true;
    poll_ = avahi_threaded_poll_new();
    if (poll_ == nullptr) {
        Say("DNS-SD: cannot start Avahi's client: devices of other makes are not found");
        return false;
    }
    if (!Connect()) {
        // No system bus to reach the daemon on: the same as a daemon that does not run.
        SayUnavailable();
        Callbacks::ScheduleReconnect(this);
    }
    if (avahi_threaded_poll_start(poll_) < 0) {
        Say("DNS-SD: cannot start Avahi's client: devices of other makes are not found");
        Stop();
        return false;
    }
    return true;
}

bool DnssdSource::Connect()
{
    int error = 0;
    AvahiClient* client = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                                           Callbacks::OnClientState, this, &error);
    if (client == nullptr) return false;
    client_ = client;
    return true;
}

void DnssdSource::Stop()
{
    if (poll_ == nullptr) return;
    avahi_threaded_poll_stop(poll_);
    // Freeing the client frees its browsers and resolvers.
    if (client_ != nullptr) avahi_client_free(client_);
    client_ = nullptr;
    browsers_.clear();
    resolvers_.clear();
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
    Lock lock(mutex_);
    browsing_ = false;
}

void DnssdSource::Browse()
{
    if (!browsers_.empty()) return;
    for (const BrowsedType& browsed : kBrowsedTypes) {
        AvahiServiceBrowser* browser =
            avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, browsed.type, nullptr,
                                      AvahiLookupFlags(0), Callbacks::OnBrowse, this);
        if (browser != nullptr) browsers_.push_back(browser);
    }
    Lock lock(mutex_);
    browsing_ = !browsers_.empty();
}

void DnssdSource::ForgetService(const ServiceKey& key)
{
    const auto resolver = resolvers_.find(key);
    if (resolver != resolvers_.end()) {
        avahi_service_resolver_free(resolver->second);
        resolvers_.erase(resolver);
    }
    std::vector<HostChange> changes;
    {
        Lock lock(mutex_);
        changes = table_.Removed(key);
    }
    Apply(changes);
}

void DnssdSource::ForgetEverything()
{
    // The client that failed owns its browsers and resolvers; freeing it frees them.
    browsers_.clear();
    resolvers_.clear();
    std::vector<HostChange> changes;
    {
        Lock lock(mutex_);
        changes = table_.Clear();
        browsing_ = false;
    }
    Apply(changes);
}

void DnssdSource::Apply(const std::vector<HostChange>& changes)
{
    for (const HostChange& change : changes) {
        if (change.record) {
            ShowDnssdHost(store_, *change.record);
        } else {
            ForgetDnssdHost(store_, change.ip);
        }
    }
}

HostLinks DnssdSource::LinksOf(const std::string& ip) const
{
    Lock lock(mutex_);
    return table_.LinksOf(ip);
}

bool DnssdSource::Browsing() const
{
    Lock lock(mutex_);
    return browsing_;
}

void DnssdSource::SayUnavailable()
{
    if (saidUnavailable_) return;
    Say("DNS-SD: avahi-daemon is not running: devices of other makes are found once it runs");
    saidUnavailable_ = true;
}

void DnssdSource::Say(const std::string& text) const
{
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), printable::LineText(text).c_str());
}

}  // namespace dnssd
