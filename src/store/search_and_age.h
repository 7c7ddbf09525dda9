// The store's schedule for a long-running search: a search pass, a wait, an
// ageing pass, and again. The window does not use it (its list lives from one
// Refresh to the next); nasscout-cli --watch does.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <functional>

// Forever: a search pass, 10 seconds, an ageing pass.
[[noreturn]] void SearchAndAgeLoop();

// Ends SearchAndAgeUntilStopped. Stop() is async-signal-safe, so a SIGINT or
// SIGTERM handler may call it directly; any thread may call it, any number of
// times. Must outlive the loop it ends.
class SearchAndAgeStop {
public:
    SearchAndAgeStop();
    ~SearchAndAgeStop();
    SearchAndAgeStop(const SearchAndAgeStop&) = delete;
    SearchAndAgeStop& operator=(const SearchAndAgeStop&) = delete;

    void Stop();
    bool Stopped() const;

    // Waits until Stop() or until `period` has passed; true when stopped.
    bool WaitFor(std::chrono::milliseconds period);

private:
    // Stop() only stores the flag and posts: both are safe in a signal handler.
    std::atomic<bool> stopped_{false};
    sem_t wakeUp_;
};

// SearchAndAgeLoop until `stop` is stopped: a search pass, `period`, an ageing
// pass, then `afterAgeing` (if given; on this thread, outside the store's
// lock), and again. Returns at the latest when the search pass under way has
// ended; no search or ageing starts once the stop is seen. An ageing pass
// that runs out of memory leaves the list as it was, for the next one.
void SearchAndAgeUntilStopped(SearchAndAgeStop& stop, const std::function<void()>& afterAgeing = nullptr,
                              std::chrono::milliseconds period = std::chrono::seconds(10));
