// Collects what the engine reports through the found-device callback, so a
// test can wait for the reports it expects (with a watchdog) and look at them.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

struct Report {
    deviceinfo device;
    int port;
};

class ReportCollector {
public:
    ReportCollector() { current() = this; }
    ~ReportCollector() { current() = nullptr; }
    ReportCollector(const ReportCollector&) = delete;
    ReportCollector& operator=(const ReportCollector&) = delete;

    // The callback to hand to the engine; it feeds the live collector.
    static void* Callback(void* pDevice, int nSearchPort)
    {
        ReportCollector* collector = current();
        if (collector == nullptr) return nullptr;
        std::lock_guard<std::mutex> lock(collector->mutex_);
        collector->reports_.push_back({*static_cast<deviceinfo*>(pDevice), nSearchPort});
        collector->arrived_.notify_all();
        return nullptr;
    }

    // Waits until a report of device `id` with `type` came from `port`.
    bool WaitFor(const std::string& id, int type, int port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] {
            return std::any_of(reports_.begin(), reports_.end(), [&](const Report& report) {
                return id == report.device.id && type == report.device.type && port == report.port;
            });
        });
    }

    std::vector<Report> Reports()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }

private:
    static ReportCollector*& current()
    {
        static ReportCollector* collector = nullptr;
        return collector;
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Report> reports_;
};
