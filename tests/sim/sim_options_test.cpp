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

using boost::asio::ip::udp;
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

TEST(SimOptions, BadCommandLinesAndDeviceFilesExitTwoWithAMessageNamingTheProblem)
{
    const std::string good = DeviceText("192.0.2.10");
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
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> named;  // what the message must name
    } cases[] = {
        {{"--bogus"}, {"--bogus"}},
        {{"--count", "abc"}, {"--count"}},
        {{}, {"no devices"}},
        {{"--count", "3"}, {"--first-address"}},
        {{"--count", "1", "--first-address", "192.0.2"}, {"192.0.2"}},
        {{"--max-delay", "-1", "--device", good}, {"--max-delay"}},
        {{"--device", "ip=192.0.2.10,id=a"}, {"host="}},
        {{"--device", good + ",colour=red"}, {"colour"}},
        {{"--device", good + ",id=again"}, {"twice"}},
        {{"--device", WithValue(good, "ip", "192.0.2.300")}, {"192.0.2.300"}},
        {{"--device", WithValue(good, "ip", "239.143.255.250")}, {"239.143.255.250"}},
        // Values the receiver would split at the wrong place.
        {{"--device", WithValue(good, "vendor", "ZOR/VA")}, {"vendor"}},
        {{"--device", WithValue(good, "host", "a&b")}, {"host"}},
        {{"--device", WithValue(good, "id", "4f2a::77")}, {"::"}},
        {{"--device", WithValue(good, "host", std::string(100, 'h'))}, {"broadcast reply"}},
        // Device files: the message names the file and the fault.
        {{"--devices", broken}, {broken, "not valid JSON"}},
        {{"--devices", lacking}, {lacking, "device 2: no \"host\""}},
        {{"--devices", numeric}, {numeric, "\"id\" is not a string"}},
        {{"--devices", bare}, {bare, "\"devices\""}},
        {{"--devices", missing}, {missing, "cannot read"}},
    };
    for (const auto& bad : cases) {
        std::string shown;
        for (const std::string& argument : bad.arguments) shown += argument + " ";
        SCOPED_TRACE(shown);
        Outcome run = RunSim(bad.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        for (const std::string& named : bad.named) EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
}

TEST(SimStartup, ATakenPortOrAnAddressNotOnThisMachineExitsOneNamingIt)
{
    const struct {
        int heldPort;  // held by the test, in this test's own namespace; 0 for none
        const char* address;
        std::string named;
    } cases[] = {{68, "127.0.0.1", "port 68"}, {1900, "127.0.0.1", "port 1900"}, {0, "192.0.2.99", "192.0.2.99"}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.named);
        boost::asio::io_context io;
        udp::socket holder(io);
        if (test.heldPort != 0) holder = udp::socket(io, udp::endpoint(udp::v4(), test.heldPort));
        Outcome run = RunSim({"--device", DeviceText(test.address)});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out.find("ready"), std::string::npos);
        EXPECT_NE(run.err.find(test.named), std::string::npos) << run.err;
    }
}

}  // namespace
