// Collects what the engine reports through the found-device callback, so a
// test can wait for the reports it expects (with a watchdog) and look at them.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <chrono>
#include <condition_variable>
#include <functional>
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

    // Waits up to `timeout` until `done` holds for the reports so far.
    bool WaitUntil(const std::function<bool(const std::vector<Report>&)>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] { return done(reports_); });
    }

    // Waits until a report of device `id` with `type` came from `port`.
    bool WaitFor(const std::string& id, int type, int port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return WaitUntil([&](const std::vector<Report>& reports) { return Count(reports, id, type, port) > 0; },
                         timeout);
    }

    std::vector<Report> Reports()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }

    static int Count(const std::vector<Report>& reports, const std::string& id, int type, int port)
    {
        int count = 0;
        for (const Report& report : reports) {
            count += id == report.device.id && type == report.device.type && port == report.port;
        }
        return count;
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
