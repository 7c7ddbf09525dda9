// Records and store set-up shared by the store's tests.
#pragma once

#include "src/store/device_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

inline deviceinfo Device(const char* ip, const char* id, const char* factory, int32_t type = DEVICE_TYPE_ANSWER,
                         const char* host = "nas")
{
    deviceinfo device;
    for (auto [field, text] : {std::pair{device.ip, ip}, {device.id, id}, {device.factory, factory}, {device.host, host}})
        std::strncpy(field, text, DEVICEINFO_TEXT_SIZE - 1);
    std::strcpy(device.product, "NS200");
    device.type = type;
    return device;
}

inline std::vector<deviceinfo> StoredDevices()
{
    std::vector<deviceinfo> devices;
    CopyDeviceList(GetDeviceStore(), devices);
    return devices;
}

// The list as id:lifetime in list order, copied over a destination that held other records.
inline std::string Listed()
{
    std::vector<deviceinfo> copy(3, Device("198.51.100.1", "stale", "ZORVA"));
    CopyDeviceList(GetDeviceStore(), copy);
    std::string listed;
    for (const deviceinfo& entry : copy) {
        listed += (listed.empty() ? "" : " ") + std::string(entry.id) + ":" + std::to_string(entry.lifetime);
    }
    return listed;
}

// How many entries the store lists, when its mutex is free right now (and
// left free); empty while another holds it.
inline std::optional<size_t> ListedIfUnlocked()
{
    DeviceStore* store = GetDeviceStore();
    if (!store->mutex.try_lock()) return std::nullopt;
    const size_t listed = store->devices.size();
    store->mutex.unlock();
    return listed;
}

// An empty store without an application callback or observer, and the
// vendor lines on standard output kept out of the test log.
class EmptyStore : public testing::Test {
protected:
    void SetUp() override
    {
        store = GetDeviceStore();
        store->applicationCallback = nullptr;
        store->observer = nullptr;
        ClearDeviceList(store);
        testing::internal::CaptureStdout();
    }
    void TearDown() override
    {
        FlushVendorLines(kLastVendorLinesWait);
        if (capturing_) {
            // Failure messages went to the captured standard output too.
            std::string captured = testing::internal::GetCapturedStdout();
            if (HasFailure()) std::fputs(captured.c_str(), stdout);
        }
        store->applicationCallback = nullptr;
        store->observer = nullptr;
        ClearDeviceList(store);
    }

    // What went to standard output since SetUp; ends the capture.
    std::string StandardOutput()
    {
        capturing_ = false;
        FlushVendorLines(kLastVendorLinesWait);
        return testing::internal::GetCapturedStdout();
    }

    bool StoreMutexIsFree() { return ListedIfUnlocked().has_value(); }

    DeviceStore* store = nullptr;

private:
    bool capturing_ = true;
};
