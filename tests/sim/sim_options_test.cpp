// nasscout-sim's command line and start-up failures: which exit status, and
// a message that names what is wrong. Runs the real program inside this
// test's private network namespace.
#include "netlab.h"
#include "sim_test_support.h"

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using simtest::DeviceText;

struct Outcome {
    int status = -1;  // exit status; 137 when the watchdog killed it
    std::string out;
    std::string err;
};

// Runs the simulator to completion and collects what it prints. A run that
// outlives ten seconds is killed, so a program that wrongly starts serving
// fails the test instead of hanging it.
Outcome RunSim(const std::vector<std::string>& arguments)
{
    TemporaryDirectory scratch;
    const std::string outFile = scratch.File("out"), errFile = scratch.File("err");
    std::vector<std::string> command{"timeout", "-s", "KILL", "10", "/bin/sh", "-c",
                                     "out=$1 err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"",
                                     "sh", outFile, errFile, simtest::kSimPath};
    command.insert(command.end(), arguments.begin(), arguments.end());
    Outcome outcome;
    outcome.status = netlab::RunCommand(command);
    outcome.out = ReadWholeFile(outFile);
    outcome.err = ReadWholeFile(errFile);
    return outcome;
}

// The device text with one key's value replaced.
std::string WithValue(const std::string& text, const std::string& key, const std::string& value)
{
    const std::size_t start = text.find(key + "=") + key.size() + 1;
    const std::size_t end = std::min(text.find(',', start), text.size());
    return text.substr(0, start) + value + text.substr(end);
}

TEST(SimOptions, HelpDocumentsEveryOptionAndExitsZero)
{
    Outcome run = RunSim({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const char* option : {"--help", "--device", "--devices", "--count", "--first-address", "--max-delay",
                               "--verbose"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
}

struct BadCommandLine {
    std::vector<std::string> arguments;
    std::string named;  // what the message must name
};

TEST(SimOptions, BadCommandLinesExitTwoWithAMessageNamingTheProblem)
{
    const std::string good = DeviceText("192.0.2.10");
    const BadCommandLine cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--count", "abc"}, "--count"},
        {{}, "no devices"},
        {{"--count", "3"}, "--first-address"},
        {{"--count", "1", "--first-address", "192.0.2"}, "192.0.2"},
        {{"--max-delay", "-1", "--device", good}, "--max-delay"},
        {{"--device", "ip=192.0.2.10,id=a"}, "host="},
        {{"--device", good + ",colour=red"}, "colour"},
        {{"--device", good + ",id=again"}, "twice"},
        {{"--device", WithValue(good, "ip", "192.0.2.300")}, "192.0.2.300"},
        {{"--device", WithValue(good, "ip", "239.143.255.250")}, "239.143.255.250"},
        // Values the receiver would split at the wrong place.
        {{"--device", WithValue(good, "vendor", "ZOR/VA")}, "vendor"},
        {{"--device", WithValue(good, "host", "a&b")}, "host"},
        {{"--device", WithValue(good, "id", "4f2a::77")}, "::"},
        {{"--device", WithValue(good, "host", std::string(100, 'h'))}, "broadcast reply"},
    };
    for (const BadCommandLine& bad : cases) {
        std::string shown;
        for (const std::string& argument : bad.arguments) shown += argument + " ";
        SCOPED_TRACE(shown);
        Outcome run = RunSim(bad.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(bad.named), std::string::npos) << run.err;
    }
}

TEST(SimOptions, DeviceFilesThatCannotBeUsedExitTwoNamingFileAndFault)
{
    TemporaryDirectory scratch;
    const std::string broken = scratch.Write("broken.json", "{\"devices\": [{\"ip\": \"192.0.2.10\",");
    const std::string lacking = scratch.Write(
        "lacking.json", "{\"devices\": [{\"ip\": \"192.0.2.10\", \"id\": \"a\", \"host\": \"h\", \"vendor\": \"v\","
                        " \"product\": \"p\", \"detail\": \"d\", \"version\": \"1\"},"
                        " {\"ip\": \"192.0.2.11\", \"id\": \"b\"}]}");
    const std::string numeric = scratch.Write(
        "numeric.json", "{\"devices\": [{\"ip\": \"192.0.2.10\", \"id\": 7, \"host\": \"h\", \"vendor\": \"v\","
                        " \"product\": \"p\", \"detail\": \"d\", \"version\": \"1\"}]}");
    const std::string bare = scratch.Write("bare.json", "[]");
    const std::string missing = scratch.File("missing.json");

    const std::vector<std::pair<std::string, std::string>> cases = {
        {broken, "not valid JSON"},  {lacking, "device 2: no \"host\""}, {numeric, "\"id\" is not a string"},
        {bare, "\"devices\""},       {missing, "cannot read"},
    };
    for (const auto& [file, fault] : cases) {
        SCOPED_TRACE(file);
        Outcome run = RunSim({"--devices", file});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(fault), std::string::npos) << run.err;
    }
}

// The test holds the port the simulator needs, in this test's own namespace.
class SimStartup : public testing::TestWithParam<int> {};

TEST_P(SimStartup, ATakenPortExitsOneNamingThePort)
{
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ip::udp::socket holder(io, asio::ip::udp::endpoint(asio::ip::udp::v4(), GetParam()));

    Outcome run = RunSim({"--device", DeviceText("127.0.0.1")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.find("ready"), std::string::npos);
    EXPECT_NE(run.err.find("port " + std::to_string(GetParam())), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(BroadcastAndSearchPorts, SimStartup, testing::Values(68, 1900));

TEST(SimStartupAddress, AnAddressNotOnThisMachineExitsOneNamingIt)
{
    Outcome run = RunSim({"--device", DeviceText("192.0.2.99")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("192.0.2.99"), std::string::npos) << run.err;
}

}  // namespace
