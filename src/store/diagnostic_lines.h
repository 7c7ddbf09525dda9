// Diagnostic lines for an output descriptor, written by a thread of their
// own. Whoever posts a line never waits for the reader: an engine receive
// thread posts inside the engine's report lock, and a reader that stops
// reading must not stop discovery. The buffer is bounded; a line that finds
// it full is dropped and counted, and the writer says so once it can write
// again.
#pragma once

#include "engine/sync/annotated_mutex.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class DiagnosticLines {
public:
    // Starts the writer. Without a thread to be had, every line is dropped.
    DiagnosticLines(int fd, std::size_t capacity);
    DiagnosticLines(const DiagnosticLines&) = delete;
    DiagnosticLines& operator=(const DiagnosticLines&) = delete;
    // Never destroyed while its writer may run: owners keep it for the
    // life of the process.
    ~DiagnosticLines() = delete;

    // Queues the text; never blocks on output, allocates or throws.
    void Post(std::string_view text);

    // Waits up to `timeout` until what was posted before the call is written.
    // False when the reader did not take it in time, or went away.
    bool Flush(std::chrono::milliseconds timeout);

    // Lines dropped so far because the buffer was full.
    std::uint64_t Dropped();

private:
    void WriteUntilExit();
    // Writes it all, retrying after interruptions; false on a write error.
    bool WriteAll(const std::string& text);

    // Constant after construction.
    const int fd_;
    const std::size_t capacity_;

    AnnotatedMutex<std::mutex> mutex_;
    std::condition_variable posted_;
    std::condition_variable written_;
    // Holds capacity_ bytes of room, reserved at construction.
    std::string pending_ GUARDED_BY(mutex_);
    std::uint64_t postedBytes_ GUARDED_BY(mutex_) = 0;
    std::uint64_t writtenBytes_ GUARDED_BY(mutex_) = 0;
    std::uint64_t dropped_ GUARDED_BY(mutex_) = 0;
    bool writerRuns_ GUARDED_BY(mutex_) = false;

    // Writer thread only; swapped with pending_, so it has the same room.
    std::string writing_;
    std::uint64_t droppedReported_ = 0;
};
