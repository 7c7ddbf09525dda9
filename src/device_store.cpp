#include "device_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

namespace {

constexpr const char* kListedVendors[] = {"ZORVA", "BELMIR4", "QUENDA", "TAVIRO", "NESTRAL"};

// Each ageing pass takes kAgeingStep; an entry is kept while what is left is
// at least kShortestKeptLifetime, so a fresh report (60) survives one pass.
constexpr int64_t kAgeingStep = 10;
constexpr int64_t kShortestKeptLifetime = 46;

constexpr std::chrono::seconds kSearchPeriod(10);

// Set by StartDeviceSearch, cleared by StopDeviceSearch and at exit: whether
// engine threads may still call into the store. Application's thread only,
// atomic because exit may run on another.
std::atomic<bool> g_bEngineStartedByStore{false};

// The store plus what creating and destroying it takes.
struct StoreOwner {
    DeviceStore store;

    StoreOwner() { pthread_mutex_init(&store.mutex, nullptr); }
    ~StoreOwner()
    {
        // The desktop never stops the engine; its receive threads outlive
        // main and must not find the mutex destroyed under them.
        if (g_bEngineStartedByStore.exchange(false)) UninitSearchDeviceLib();
        pthread_mutex_destroy(&store.mutex);
    }
};

// Holds the store's mutex for a scope, also when an exception leaves it.
class StoreLock {
public:
    explicit StoreLock(DeviceStore* store) : mutex_(&store->mutex) { pthread_mutex_lock(mutex_); }
    ~StoreLock() { pthread_mutex_unlock(mutex_); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    pthread_mutex_t* mutex_;
};

// Whole texts of one record field: "ZORVA" never matches "ZORVAX".
bool SameText(const char* left, const char* right) { return std::strncmp(left, right, DEVICEINFO_TEXT_SIZE) == 0; }

bool IsListedVendor(const char* factory)
{
    for (const char* vendor : kListedVendors) {
        if (SameText(factory, vendor)) return true;
    }
    return false;
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
    return InitSearchDeviceLib(DeviceStoreCallback, bLog, logDir, bMultiCommand);
}

int SearchDevices(DeviceStore* /*store*/, void* pdhcp) { return SendMessage(pdhcp); }

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
    std::printf("\nNewDeviceInfo.factory = %s\n", device->factory);
    std::fflush(stdout);
    if (!IsListedVendor(device->factory)) return;

    {
        StoreLock lock(store);
        for (deviceinfo& entry : store->devices) {
            if (entry.compare(*device)) {
                entry.lifetime = device->lifetime;
                return;
            }
            if (SameText(entry.ip, device->ip)) {
                entry = *device;
                return;
            }
        }
        try {
            store->devices.push_back(*device);
            return;
        } catch (const std::bad_alloc&) {
            // Dropped: this runs on an engine thread, where an exception has nowhere to go.
        }
    }
    std::fprintf(stderr, "nasscout: out of memory, device %.32s (%.32s) not listed\n", device->ip, device->id);
}

void RemoveDevice(DeviceStore* store, const deviceinfo* device)
{
    StoreLock lock(store);
    for (auto entry = store->devices.begin(); entry != store->devices.end(); ++entry) {
        if (SameText(entry->id, device->id)) {
            store->devices.erase(entry);
            return;
        }
    }
}

void CopyDeviceList(DeviceStore* store, std::vector<deviceinfo>& destination)
{
    StoreLock lock(store);
    destination = store->devices;
}

void ClearDeviceList(DeviceStore* store)
{
    StoreLock lock(store);
    store->devices.clear();
}

void AgeDeviceList(DeviceStore* store)
{
    StoreLock lock(store);
    for (auto entry = store->devices.begin(); entry != store->devices.end();) {
        // Same as lifetime - step >= shortest, without overflowing on a hostile lifetime.
        if (entry->lifetime >= kShortestKeptLifetime + kAgeingStep) {
            entry->lifetime -= kAgeingStep;
            ++entry;
        } else {
            entry = store->devices.erase(entry);
        }
    }
}

void SearchAndAgeLoop()
{
    for (;;) {
        SendMessage(nullptr);
        std::this_thread::sleep_for(kSearchPeriod);
        AgeDeviceList(GetDeviceStore());
    }
}

SearchAndAgeStop::SearchAndAgeStop() { sem_init(&wakeUp_, 0, 0); }

SearchAndAgeStop::~SearchAndAgeStop() { sem_destroy(&wakeUp_); }

void SearchAndAgeStop::Stop()
{
    bStopped_ = true;
    sem_post(&wakeUp_);
}

bool SearchAndAgeStop::Stopped() const { return bStopped_; }

bool SearchAndAgeStop::WaitFor(std::chrono::milliseconds period)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(period);
    deadline.tv_sec += static_cast<time_t>(seconds.count());
    deadline.tv_nsec += static_cast<long>(std::chrono::nanoseconds(period - seconds).count());
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // Only Stop() posts, after setting the flag; a signal that interrupts
    // the wait (the one that asked for the stop, say) resumes it.
    while (!Stopped()) {
        if (sem_clockwait(&wakeUp_, CLOCK_MONOTONIC, &deadline) != 0 && errno != EINTR) break;
    }
    return Stopped();
}

void SearchAndAgeUntilStopped(SearchAndAgeStop& stop, const std::function<void()>& afterAgeing,
                              std::chrono::milliseconds period)
{
    while (!stop.Stopped()) {
        SendMessage(nullptr);
        if (stop.WaitFor(period)) return;
        AgeDeviceList(GetDeviceStore());
        if (afterAgeing) afterAgeing();
    }
}

void ToUpperAscii(char* text)
{
    if (text == nullptr) return;
    for (; *text != '\0'; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
    }
}
