#include "search_and_age.h"

#include "device_store.h"

#include <cerrno>
#include <ctime>
#include <new>
#include <thread>

namespace {

constexpr std::chrono::seconds kSearchPeriod(10);

// An ageing pass that runs out of memory leaves the list as it was; the next
// pass ages it. The schedule's thread has nobody to hand the failure to.
void AgeUnlessOutOfMemory()
{
    try {
        AgeDeviceList(GetDeviceStore());
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

void SearchAndAgeLoop()
{
    for (;;) {
        SendMessage(nullptr);
        std::this_thread::sleep_for(kSearchPeriod);
        AgeUnlessOutOfMemory();
    }
}

SearchAndAgeStop::SearchAndAgeStop() { sem_init(&wakeUp_, 0, 0); }

SearchAndAgeStop::~SearchAndAgeStop() { sem_destroy(&wakeUp_); }

void SearchAndAgeStop::Stop()
{
    stopped_ = true;
    sem_post(&wakeUp_);
}

bool SearchAndAgeStop::Stopped() const { return stopped_; }

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
        AgeUnlessOutOfMemory();
        if (afterAgeing) afterAgeing();
    }
}
