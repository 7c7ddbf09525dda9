#include "diagnostic_lines.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

namespace {

using Lock = AnnotatedLock<AnnotatedMutex<std::mutex>>;

constexpr std::chrono::milliseconds kGatherTime{2};

}  // namespace

DiagnosticLines::DiagnosticLines(int fd, std::size_t capacity) : fd_(fd), capacity_(capacity)
{
    Lock lock(mutex_);
    pending_.reserve(capacity_);
    writing_.reserve(capacity_);
    try {
        std::thread(&DiagnosticLines::WriteUntilExit, this).detach();
        writerRuns_ = true;
    } catch (const std::system_error&) {
        // Lines are a convenience; the program runs on without them.
    }
}

void DiagnosticLines::Post(std::string_view text)
{
    bool wasEmpty = false;
    {
        Lock lock(mutex_);
        if (!writerRuns_ || pending_.size() + text.size() > capacity_) {
            ++dropped_;
            return;
        }
        wasEmpty = pending_.empty();
        pending_.append(text.data(), text.size());
        postedBytes_ += text.size();
    }
    // Otherwise the writer is busy and takes this line with the ones before:
    // a burst of answers costs one wake-up, not one each.
    if (wasEmpty) posted_.notify_one();
}

bool DiagnosticLines::Flush(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Lock lock(mutex_);
    std::unique_lock<std::mutex> waiting(mutex_.native(), std::adopt_lock);
    const std::uint64_t target = postedBytes_;
    while (writerRuns_ && writtenBytes_ < target) {
        if (written_.wait_until(waiting, deadline) == std::cv_status::timeout) break;
    }
    const bool done = writtenBytes_ >= target;
    waiting.release();  // the scoped lock unlocks
    return done;
}

std::uint64_t DiagnosticLines::Dropped()
{
    Lock lock(mutex_);
    return dropped_;
}

void DiagnosticLines::WriteUntilExit()
{
    for (;;) {
        std::uint64_t dropped = 0;
        {
            Lock lock(mutex_);
            std::unique_lock<std::mutex> waiting(mutex_.native(), std::adopt_lock);
            while (pending_.empty() && dropped_ == droppedReported_) posted_.wait(waiting);
            // The lines of a burst of answers arrive microseconds apart: a
            // moment's wait lets them go out in a few writes, not one each.
            posted_.wait_for(waiting, kGatherTime);
            waiting.release();
            writing_.swap(pending_);
            dropped = dropped_;
        }
        bool written = WriteAll(writing_);
        if (dropped != droppedReported_) {
            char notice[96];
            const int length = std::snprintf(notice, sizeof notice,
                                             "nasscout: %llu diagnostic lines dropped: their reader fell behind\n",
                                             static_cast<unsigned long long>(dropped - droppedReported_));
            written = written && WriteAll(std::string(notice, static_cast<std::size_t>(length)));
            droppedReported_ = dropped;
        }
        {
            Lock lock(mutex_);
            if (written) {
                writtenBytes_ += writing_.size();
            } else {
                writerRuns_ = false;  // nobody reads this any more; later lines are dropped
            }
        }
        written_.notify_all();
        writing_.clear();
        if (!written) return;
    }
}

bool DiagnosticLines::WriteAll(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd_, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}
