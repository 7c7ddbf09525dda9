// nasscout-sim's command line and start-up failures: which exit status, and
// a message that names what is wrong. Runs the real program in the finder
// host of a lab.
#include "finder_lab.h"

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using boost::asio::ip::udp;
using namespace std::chrono_literals;

// The device text with one key's value replaced.
std::string WithValue(const std::string& text, const std::string& key, const std::string& value)
{
    const std::size_t start = text.find(key + "=") + key.size() + 1;
    const std::size_t end = std::min(text.find(',', start), text.size());
    return text.substr(0, start) + value + text.substr(end);
}

// Bad command lines and device files exit with 2; a port taken (by the test)
// or an address not on this host with 1. A run that outlives ten seconds is
// killed, so a simulator that wrongly starts serving fails its row.
TEST(SimOptions, EachFailureExitsWithItsStatusAndAMessageNamingTheProblem)
{
    const std::string good = LabSimulator::Device("192.0.2.10", "a");
    const std::string full =
        R"({"ip": "192.0.2.10", "id": "a", "host": "h", "vendor": "v", "product": "p", "detail": "d", "version": "1"})";
    FinderLab lab;
    const TemporaryDirectory& scratch = lab.files;
    const std::string broken = scratch.Write("broken.json", "{\"devices\": [{\"ip\": \"192.0.2.10\",");
    const std::string lacking = scratch.Write("lacking.json", R"({"devices": [)" + full + R"(, {"ip": "192.0.2.11"}]})");
    const std::string numeric = scratch.Write("numeric.json", R"({"devices": [{"ip": "192.0.2.10", "id": 7}]})");
    const std::string bare = scratch.Write("bare.json", "[]");
    const std::string missing = scratch.File("missing.json");
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> named;  // what the message must name
        int status = 2;
        int heldPort = 0;
    } cases[] = {
        {{"--bogus"}, {"--bogus"}},
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
        {{"--devices", lacking}, {lacking, "device 2: no \"id\""}},
        {{"--devices", numeric}, {numeric, "\"id\" is not a string"}},
        {{"--devices", bare}, {bare, "\"devices\""}},
        {{"--devices", missing}, {missing, "cannot read"}},
        {{"--device", LabSimulator::Device("192.0.2.1", "a")}, {"port 68"}, 1, 68},
        {{"--device", LabSimulator::Device("192.0.2.1", "a")}, {"port 1900"}, 1, 1900},
        {{"--device", LabSimulator::Device("192.0.2.99", "a")}, {"192.0.2.99"}, 1},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.named.back());
        boost::asio::io_context io;
        udp::socket holder(io);
        if (bad.heldPort != 0) {
            netlab::Host::Inside inside(lab.finder);
            holder = udp::socket(io, udp::endpoint(udp::v4(), bad.heldPort));
        }
        std::vector<std::string> command{NASSCOUT_SIM_PATH};
        command.insert(command.end(), bad.arguments.begin(), bad.arguments.end());
        const ProgramRun run = lab.Finish(lab.Spawn(command), 10s);
        EXPECT_EQ(run.status, bad.status);
        EXPECT_EQ(run.out, "");
        for (const std::string& named : bad.named) EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
}

}  // namespace
