#include "device_store.h"

#include "diagnostic_lines.h"
#include "engine/untrusted/printable_text.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

namespace {

constexpr const char* kListedVendors[] = {"ZORVA", "BELMIR4", "QUENDA", "TAVIRO", "NESTRAL"};

// Each ageing pass takes kAgeingStep; an entry is kept while what is left is
// at least kShortestKeptLifetime, so a fresh report (60) survives one pass.
constexpr int64_t kAgeingStep = 10;
constexpr int64_t kShortestKeptLifetime = 46;

// Set by StartDeviceSearch, cleared by StopDeviceSearch and at exit: whether
// engine threads may still call into the store. Application's thread only,
// atomic because exit may run on another.
std::atomic<bool> g_bEngineStartedByStore{false};

// The store plus what destroying it takes.
struct StoreOwner {
    DeviceStore store;

    ~StoreOwner()
    {
        // The desktop never stops the engine; its receive threads outlive
        // main and must not find the store destroyed under them.
        if (g_bEngineStartedByStore.exchange(false)) UninitSearchDeviceLib();
    }
};

// Room for a few thousand vendor lines: a burst of answers while standard
// output is slow loses none.
constexpr std::size_t kVendorLineRoom = 256 * 1024;

// Created on first use and kept for the life of the process: its writer may
// be blocked on standard output at exit.
DiagnosticLines& VendorLines()
{
    static DiagnosticLines* const lines = new DiagnosticLines(STDOUT_FILENO, kVendorLineRoom);
    return *lines;
}

// "\nNewDeviceInfo.factory = %s\n", put together by hand: it is printed for
// every answer, accepted or not, and the vendor is whatever a device sent.
void PrintVendorLine(const char (&factory)[DEVICEINFO_TEXT_SIZE])
{
    static constexpr std::string_view kStart = "\nNewDeviceInfo.factory = ";
    char line[kStart.size() + printable::kLineTextGrowth * DEVICEINFO_TEXT_SIZE + 2];
    std::memcpy(line, kStart.data(), kStart.size());
    const std::size_t factoryLength = printable::LineTextInto(printable::Field(factory), line + kStart.size());
    line[kStart.size() + factoryLength] = '\n';
    VendorLines().Post(std::string_view(line, kStart.size() + factoryLength + 1));
}

// Holds the store's mutex for a scope, also when an exception leaves it.
using StoreLock = AnnotatedLock<AnnotatedMutex<std::mutex>>;

// The whole text: "ZORVA" is listed, "ZORVAX" is not.
bool IsListedVendor(const char* factory)
{
    for (const char* vendor : kListedVendors) {
        if (SameDeviceText(factory, vendor)) return true;
    }
    return false;
}

// Same as lifetime - step >= shortest, without overflowing on a hostile
// lifetime. A DNS-SD host is not aged: its source says when it leaves.
bool SurvivesAgeing(const deviceinfo& entry)
{
    return entry.type == kDnssdHostType || entry.lifetime >= kShortestKeptLifetime + kAgeingStep;
}

// Refreshes the lifetime of an identical entry, replaces the entry with the
// record's ip, or appends the record while there is room; what it did, if
// more than a refresh. Out of memory for the append, throws std::bad_alloc
// with the list unchanged.
std::optional<StoreEvent> Keep(DeviceStore* store, const deviceinfo& device) REQUIRES(store->mutex)
{
    deviceinfo* entry = store->devices.FindByIp(device.ip);
    if (entry == nullptr) {
        if (store->devices.size() >= kMostListedDevices) {
            ++store->turnedAway;
            return std::nullopt;
        }
        store->devices.Append(device);
        return StoreEvent::Appended;
    }
    if (entry->compare(device)) {
        entry->lifetime = device.lifetime;
        return std::nullopt;
    }
    store->devices.Replace(*entry, device);
    return StoreEvent::Replaced;
}

void Notify(const DeviceStore* store, StoreEvent event, const deviceinfo& entry) REQUIRES(store->eventMutex)
    EXCLUDES(store->mutex)
{
    if (store->observer) store->observer(event, entry);
}

// Lists the DNS-SD host known at `ip`, if any, when no entry holds the
// address, and adds its entry to `shown`. Out of memory, the host waits for
// the next search pass.
void ShowDnssdHostAt(DeviceStore* store, std::string_view ip, std::vector<deviceinfo>& shown) REQUIRES(store->mutex)
{
    if (store->dnssdHosts.empty()) return;
    const auto host = store->dnssdHosts.find(ip);
    if (host == store->dnssdHosts.end() || store->devices.FindByIp(host->second.ip) != nullptr) return;
    try {
        if (Keep(store, host->second)) shown.push_back(host->second);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

DeviceStore* GetDeviceStore()
{
    static StoreOwner owner;
    return &owner.store;
}

int StartDeviceSearch(DeviceStore* store, FindDeviceCallback applicationCallback, bool bLog, void* logDir,
                      bool bMultiCommand)
{
    if (!g_bEngineStartedByStore.exchange(true)) store->applicationCallback = applicationCallback;
    if (store->printsVendorLines) VendorLines();  // its writer starts here, not on a receive thread
    return InitSearchDeviceLib(DeviceStoreCallback, bLog, logDir, bMultiCommand);
}

int SearchDevices(DeviceStore* store, void* pdhcp)
{
    {
        StoreLock delivering(store->eventMutex);
        std::vector<deviceinfo> shown;
        {
            StoreLock lock(store->mutex);
            for (const auto& [ip, host] : store->dnssdHosts) ShowDnssdHostAt(store, ip, shown);
        }
        for (const deviceinfo& entry : shown) Notify(store, StoreEvent::Appended, entry);
    }
    return SendMessage(pdhcp);
}

void StopDeviceSearch()
{
    UninitSearchDeviceLib();
    g_bEngineStartedByStore = false;
}

void* DeviceStoreCallback(void* pDevice, int nSearchPort)
{
    DeviceStore* store = GetDeviceStore();
    if (pDevice != nullptr) {
        // The store upper-cases its copy; the application gets the record as the engine sent it.
        deviceinfo device = *static_cast<const deviceinfo*>(pDevice);
        switch (device.type) {
        case DEVICE_TYPE_ANSWER:
        case DEVICE_TYPE_ALIVE:
            AddDevice(store, &device);
            break;
        case DEVICE_TYPE_BYEBYE:
            RemoveDevice(store, &device);
            break;
        default:
            break;
        }
    }
    if (store->applicationCallback == nullptr) return nullptr;
    return store->applicationCallback(pDevice, nSearchPort);
}

void AddDevice(DeviceStore* store, deviceinfo* device)
{
    // The engine always ends the text within its field; this keeps the
    // upper-casing out of `type` for a record made elsewhere.
    device->factory[DEVICEINFO_TEXT_SIZE - 1] = '\0';
    ToUpperAscii(device->factory);
    if (store->printsVendorLines) PrintVendorLine(device->factory);
    if (!store->admitsEveryVendor && !IsListedVendor(device->factory)) return;

    StoreLock delivering(store->eventMutex);
    std::optional<StoreEvent> event;
    try {
        StoreLock lock(store->mutex);
        event = Keep(store, *device);
    } catch (const std::bad_alloc&) {
        // Dropped: this runs on an engine thread, where an exception has
        // nowhere to go. The texts are made printable on the stack: no memory.
        char ip[printable::kLineTextGrowth * DEVICEINFO_TEXT_SIZE + 1];
        char id[sizeof ip];
        printable::LineTextInto(printable::Field(device->ip), ip);
        printable::LineTextInto(printable::Field(device->id), id);
        std::fprintf(stderr, "nasscout: out of memory, device %s (%s) not listed\n", ip, id);
        return;
    }
    if (event) Notify(store, *event, *device);
}

void RemoveDevice(DeviceStore* store, const deviceinfo* device)
{
    StoreLock delivering(store->eventMutex);
    std::optional<deviceinfo> removed;
    std::vector<deviceinfo> shown;
    {
        StoreLock lock(store->mutex);
        // A bye-bye is the engine's word: it never takes a DNS-SD host, whose id it may share.
        const deviceinfo* first = store->devices.FindFirstWithId(device->id);
        if (first != nullptr && first->type != kDnssdHostType) removed = store->devices.RemoveFirstWithId(device->id);
        if (removed) ShowDnssdHostAt(store, printable::Field(removed->ip), shown);
    }
    if (removed) Notify(store, StoreEvent::ByeBye, *removed);
    for (const deviceinfo& entry : shown) Notify(store, StoreEvent::Appended, entry);
}

void ShowDnssdHost(DeviceStore* store, const deviceinfo& host)
{
    StoreLock delivering(store->eventMutex);
    std::optional<StoreEvent> event;
    try {
        StoreLock lock(store->mutex);
        store->dnssdHosts.insert_or_assign(std::string(printable::Field(host.ip)), host);
        const deviceinfo* entry = store->devices.FindByIp(host.ip);
        if (entry != nullptr && entry->type != kDnssdHostType) return;  // the engine's record holds the address
        event = Keep(store, host);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "nasscout: out of memory, a DNS-SD host not listed\n");
        return;
    }
    if (event) Notify(store, *event, host);
}

void ForgetDnssdHost(DeviceStore* store, const std::string& ip)
{
    StoreLock delivering(store->eventMutex);
    std::optional<deviceinfo> removed;
    {
        StoreLock lock(store->mutex);
        store->dnssdHosts.erase(ip);
        const deviceinfo* entry = store->devices.FindByIp(ip.c_str());
        if (entry != nullptr && entry->type == kDnssdHostType) removed = store->devices.RemoveByIp(ip.c_str());
    }
    if (removed) Notify(store, StoreEvent::ByeBye, *removed);
}

std::uint64_t DevicesTurnedAway(DeviceStore* store)
{
    StoreLock lock(store->mutex);
    return store->turnedAway;
}

bool FlushVendorLines(std::chrono::milliseconds timeout) { return VendorLines().Flush(timeout); }

void CopyDeviceList(DeviceStore* store, std::vector<deviceinfo>& destination)
{
    StoreLock lock(store->mutex);
    store->devices.CopyTo(destination);
}

void ClearDeviceList(DeviceStore* store)
{
    StoreLock delivering(store->eventMutex);
    DeviceList removed;
    {
        StoreLock lock(store->mutex);
        removed = store->devices.TakeAll();
    }
    for (const deviceinfo& entry : removed) Notify(store, StoreEvent::Cleared, entry);
}

void AgeDeviceList(DeviceStore* store)
{
    StoreLock delivering(store->eventMutex);
    std::vector<deviceinfo> agedOut;
    std::vector<deviceinfo> shown;
    {
        StoreLock lock(store->mutex);
        // Room for the copies first, so that running out of memory changes nothing.
        agedOut.reserve(store->devices.size() - store->devices.CountWhere(SurvivesAgeing));
        store->devices.KeepWhere(
            [](deviceinfo& entry) {
                if (!SurvivesAgeing(entry)) return false;
                if (entry.type != kDnssdHostType) entry.lifetime -= kAgeingStep;
                return true;
            },
            agedOut);
        for (const deviceinfo& entry : agedOut) ShowDnssdHostAt(store, printable::Field(entry.ip), shown);
    }
    for (const deviceinfo& entry : agedOut) Notify(store, StoreEvent::AgedOut, entry);
    for (const deviceinfo& entry : shown) Notify(store, StoreEvent::Appended, entry);
}

void ToUpperAscii(char* text)
{
    if (text == nullptr) return;
    for (; *text != '\0'; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
    }
}
