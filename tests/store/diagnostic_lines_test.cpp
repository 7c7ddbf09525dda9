// The store's vendor lines travel through DiagnosticLines: whoever posts a
// line (an engine receive thread, inside the report lock) must never wait
// for the reader.
#include "src/store/diagnostic_lines.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

TEST(DiagnosticLines, AStalledReaderCostsDroppedLinesNeverAWaitingPoster)
{
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    const std::string line = "vendor = ZORVA.\n";
    int filler = 0;  // the reader has stopped: its pipe is full
    while (write(pipeFds[1], line.data(), line.size()) == ssize_t(line.size())) ++filler;
    fcntl(pipeFds[1], F_SETFL, 0);
    auto* lines = new DiagnosticLines(pipeFds[1], 256);  // lives as long as its writer, by design

    constexpr int kPosted = 1000;
    for (int posted = 0; posted < kPosted; ++posted) lines->Post(line);
    EXPECT_GT(lines->Dropped(), 0u);
    EXPECT_FALSE(lines->Flush(std::chrono::milliseconds(50))) << "nobody reads";

    std::string read;
    pollfd readable{pipeFds[0], POLLIN, 0};
    bool allWritten = false;
    for (int round = 0; !allWritten; ++round) {
        ASSERT_LT(round, 1000) << "the writer never caught up";
        allWritten = lines->Flush(std::chrono::milliseconds(0));  // then all of it is in the pipe
        char chunk[4096];
        for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) read.append(chunk, size_t(got));
        if (!allWritten) poll(&readable, 1, 100);
    }
    uint64_t delivered = 0, droppedAsSaid = 0, dropped = 0;
    std::istringstream text(read);
    for (std::string got; std::getline(text, got);) {
        if (got + "\n" == line) {
            ++delivered;
        } else if (std::sscanf(got.c_str(), "nasscout: %lu diagnostic lines dropped: their reader fell behind", &dropped) == 1) {
            droppedAsSaid += dropped;
        } else {
            ADD_FAILURE() << "torn or unknown line: " << got;
        }
    }
    EXPECT_EQ(delivered - filler + droppedAsSaid, uint64_t(kPosted)) << "every line delivered whole or said dropped";
    EXPECT_EQ(droppedAsSaid, lines->Dropped());
    close(pipeFds[0]);
    close(pipeFds[1]);
}

}  // namespace
