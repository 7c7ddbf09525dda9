// The second discovery source beside the engine: hosts that announce a file
// service over DNS-SD, found through the system's avahi-daemon (its client
// library, over the system bus), each listed in the device store as a record
// of type kDnssdHostType. The engine and its three calls know nothing of it.
//
// Threads: every Avahi callback runs on Avahi's own thread, under its poll
// lock, and calls the store from there (ShowDnssdHost, ForgetDnssdHost), so
// the store sees the source's changes in order. LinksOf runs on any thread.
// Lock order: Avahi's poll lock, then mutex_; mutex_ is never held while the
// store is called, so it is a leaf for every other thread.
#pragma once

#include "host_table.h"

#include "engine/sync/annotated_mutex.h"
#include "src/store/device_store.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

namespace dnssd {

class DnssdSource {
public:
    // `program` names the lines it writes on standard error.
    DnssdSource(DeviceStore* store, std::string program);
    ~DnssdSource();  // Stop()
    DnssdSource(const DnssdSource&) = delete;
    DnssdSource& operator=(const DnssdSource&) = delete;

    // Starts browsing the service types of service_types.h on Avahi's thread.
    // Where avahi-daemon is not running it says so once on standard error and
    // waits for it; the search goes on without it. False, said the same way,
    // only when Avahi's thread or client cannot be made at all.
    bool Start();

    // Stops Avahi's thread; no change reaches the store after it. The hosts
    // found stay listed.
    void Stop();

    // Where "Log In" and "My storage" go for the host at `ip`.
    HostLinks LinksOf(const std::string& ip) const;

    // Any thread: whether the daemon answered and the browsers run (for tests
    // and the benchmark, which wait for it).
    bool Browsing() const;

    // The most services followed at once.
    static constexpr std::size_t kMostServices = 65536;

private:
    struct Callbacks;  // Avahi's C callbacks, with access to the members

    bool Connect();
    void Browse();
    void ForgetService(const ServiceKey& key);
    void ForgetEverything();
    void Apply(const std::vector<HostChange>& changes);
    void SayUnavailable();  // once
    void Say(const std::string& text) const;

    DeviceStore* const store_;
    const std::string program_;

    // Set by Start, cleared by Stop; Avahi's thread runs between the two.
    AvahiThreadedPoll* poll_ = nullptr;

    // Avahi's thread only, or any thread while it does not run.
    AvahiClient* client_ = nullptr;
    std::vector<AvahiServiceBrowser*> browsers_;
    // At most kMostServices: an announcement flood costs no more; the
    // services beyond are not followed, said once.
    std::map<ServiceKey, AvahiServiceResolver*> resolvers_;
    bool saidUnavailable_ = false;
    bool saidTurnedAway_ = false;

    mutable AnnotatedMutex<std::mutex> mutex_;
    HostTable table_ GUARDED_BY(mutex_);
    bool browsing_ GUARDED_BY(mutex_) = false;
};

}  // namespace dnssd
