#include "log/search_log.h"
#include "tests/support/temporary_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

namespace {

std::string TodaysFileName()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char name[64];
    std::strftime(name, sizeof name, "%Y-%m-%d-SearchDeviceLog.txt", localtime_r(&now, &local));
    return name;
}

template <typename Write>
std::string Printed(Write write)
{
    testing::internal::CaptureStdout();
    write();
    return testing::internal::GetCapturedStdout();
}

class SearchLog : public testing::Test {
protected:
    void TearDown() override
    {
        OpenSearchLog(false, nullptr);
        unsetenv("NASSCOUT_LOG_MAX_BYTES");
    }
    TemporaryDirectory directory;
};

TEST_F(SearchLog, LogThatIsOffCreatesNoFileAndPrintsNothing)
{
    const std::string slashed = directory.slashed();
    const std::string tooLong = slashed + std::string(4090, 'd') + "/";
    const std::pair<bool, const char*> offs[] = {{false, slashed.c_str()}, {true, nullptr}, {true, tooLong.c_str()}};
    for (const auto& [enable, where] : offs) {
        SCOPED_TRACE(where == nullptr ? "no directory" : where);
        EXPECT_EQ(OpenSearchLog(enable, where), 0);
        EXPECT_EQ(Printed([] {
            EXPECT_EQ(WriteSearchLog("SendThread %d : x", 67), 0);
            EXPECT_EQ(WriteSearchLogStamped("message"), 0);
            EXPECT_EQ(WriteSearchLogAt("label", "file.cpp", 1, "message"), 0);
            CloseSearchLog();
        }), "");
        EXPECT_TRUE(directory.Files().empty());
    }
}

TEST_F(SearchLog, DatedFileHoldsBannersAroundStampedLinesAndTwoOpensOnOneDayShareIt)
{
    ASSERT_EQ(OpenSearchLog(true, directory.slashed().c_str()), 1);
    ASSERT_EQ(OpenSearchLog(true, directory.slashed().c_str()), 1);
    std::string printed = Printed([] {
        EXPECT_EQ(WriteSearchLog("SendThread %d : Begin  ", 1900), 1);
        EXPECT_EQ(WriteSearchLogStamped("pass %d", 3), 1);
    });
    CloseSearchLog();
    // The log stays armed: a line after the close lands in the same file.
    Printed([] { EXPECT_EQ(WriteSearchLog("late line"), 1); });

    auto files = directory.Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.front().filename().string(), TodaysFileName());
    std::string content = ReadWholeFile(files.front());
    std::regex expected("------Start Log System-------\r\n------Start Log System-------\r\n"
                        "SendThread 1900 : Begin  \\*\\[[0-3][0-9]::[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\]\r\n"
                        "\\[--[0-2][0-9]:[0-5][0-9]:[0-6][0-9](\\.[0-9]{6})?--\\]\\*pass 3\r\n"
                        "------Exit Log System-------\r\n"
                        "late line\\*\\[.*\\]\r\n");
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
    EXPECT_EQ(printed, content.substr(content.find("SendThread"), content.find("------Exit") - content.find("SendThread")))
        << "the echo is the file's lines, banners excepted";
}

// A file the log may not write leaves the lines on standard output alone:
// a missing directory, or, named like the day's log, a symbolic link (which
// root's log used to follow to any file) or a FIFO (which would block).
TEST_F(SearchLog, LinesGoOnlyToStandardOutputWhereNoRegularFileCanBeWritten)
{
    const std::string victim = directory.path() + "/victim";
    std::ofstream(victim) << "kept\n";
    const std::string named = directory.slashed() + TodaysFileName();
    const struct {
        const char* what;
        std::string directory;
        std::function<void()> prepare;
    } cases[] = {
        {"missing directory", directory.path() + "/missing/", [] {}},
        {"symbolic link", directory.slashed(), [&] { ASSERT_EQ(symlink(victim.c_str(), named.c_str()), 0); }},
        {"dangling symbolic link", directory.slashed(),
         [&] { ASSERT_EQ(symlink((directory.path() + "/nowhere").c_str(), named.c_str()), 0); }},
        {"FIFO", directory.slashed(), [&] { ASSERT_EQ(mkfifo(named.c_str(), 0600), 0); }},
    };
    for (const auto& test : cases) {
        unlink(named.c_str());
        test.prepare();
        ASSERT_EQ(OpenSearchLog(true, test.directory.c_str()), 1) << test.what;
        std::string printed = Printed([] { EXPECT_EQ(WriteSearchLog("only on screen"), 1); });
        EXPECT_EQ(printed.rfind("only on screen*[", 0), 0u) << test.what << ": " << printed;
        EXPECT_EQ(ReadWholeFile(victim), "kept\n") << test.what;
        EXPECT_FALSE(std::filesystem::exists(directory.path() + "/nowhere")) << test.what;
    }
}

TEST_F(SearchLog, LinesUpTo1023CharactersAreKeptWholeAndLiterallyEmptyAndLongerOnesDropped)
{
    ASSERT_EQ(OpenSearchLog(true, directory.slashed().c_str()), 1);
    std::string fits(1006, 'a');
    std::string printed = Printed([&] {
        EXPECT_EQ(WriteSearchLog("%s", fits.c_str()), 1);
        EXPECT_EQ(WriteSearchLog("%s", std::string(1007, 'b').c_str()), 0);
        EXPECT_EQ(WriteSearchLog("%s", std::string(1024, 'c').c_str()), 0);
        EXPECT_EQ(WriteSearchLog("%s", ""), 0);
        EXPECT_EQ(WriteSearchLog(nullptr), 0);
        EXPECT_EQ(WriteSearchLog("IP : %s", "%s%n%d"), 1);  // percent signs from the network
    });
    EXPECT_EQ(printed.find("IP : %s%n%d*["), 1023u) << "the first line, 1023 characters, then nothing but this one";
    std::string content = ReadWholeFile(directory.Files().front());
    EXPECT_NE(content.find(fits + "*["), std::string::npos);
    EXPECT_NE(content.find("IP : %s%n%d*["), std::string::npos);
    EXPECT_EQ(content.find_first_of("bc"), std::string::npos) << "the lines too long";
}

TEST_F(SearchLog, LocatedLinesGoToTheFileOnly)
{
    ASSERT_EQ(OpenSearchLog(true, directory.slashed().c_str()), 1);
    EXPECT_EQ(Printed([] {
        EXPECT_EQ(WriteSearchLogAt("ERROR", "worker.cpp", 42, "bind failed"), 1);
        EXPECT_EQ(WriteSearchLogAt("ERROR", "worker.cpp", 42, std::string(1020, 'x').c_str()), 0);
        EXPECT_EQ(WriteSearchLogAt("ERROR", nullptr, 42, "no location"), 0);
    }), "") << "located lines are never echoed";
    EXPECT_EQ(ReadWholeFile(directory.Files().front()),
              "------Start Log System-------\r\n[ERROR]:worker.cpp(42): bind failed\r\n");
}

// Hostile traffic wrote megabytes a second to the log file, without end.
TEST_F(SearchLog, FileStopsAtItsSizeCapAfterOneLineSayingSoAndTheEchoGoesOn)
{
    setenv("NASSCOUT_LOG_MAX_BYTES", "4K", 1);
    ASSERT_EQ(OpenSearchLog(true, directory.slashed().c_str()), 1);
    std::string printed = Printed([] {
        for (int line = 0; line < 100; ++line) EXPECT_EQ(WriteSearchLog("%s", std::string(100, 'x').c_str()), 1);
    });
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 101) << "every line, and the one saying the file is full";
    const std::string full = ReadWholeFile(directory.Files().front());
    EXPECT_LE(full.size(), 4096u);
    EXPECT_TRUE(std::regex_match(full, std::regex("------Start Log System-------\r\n(x{100}\\*\\[.*\\]\r\n)+"
                                                  "Search log full at its cap of 4096 bytes \\(NASSCOUT_LOG_MAX_BYTES\\): "
                                                  "nothing more goes to this file\\*\\[.*\\]\r\n")))
        << full;

    // A later start on the same day finds the file full and leaves it so.
    ASSERT_EQ(OpenSearchLog(true, directory.slashed().c_str()), 1);
    Printed([] { WriteSearchLog("later"); });
    CloseSearchLog();
    EXPECT_EQ(ReadWholeFile(directory.Files().front()), full);

    TemporaryDirectory other;
    setenv("NASSCOUT_LOG_MAX_BYTES", "lots", 1);
    Printed([&] { OpenSearchLog(true, other.slashed().c_str()); });
    EXPECT_NE(ReadWholeFile(other.Files().front()).find("NASSCOUT_LOG_MAX_BYTES=lots is no size: the cap stays at 33554432 bytes  *["),
              std::string::npos);
}

}  // namespace
