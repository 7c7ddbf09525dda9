// nasscout-sim's command line and start-up: which exit status, and one line
// that names what is wrong. Runs the real program in the finder host of a lab.
#include "tests/support/finder_lab.h"

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using boost::asio::ip::udp;
using namespace std::chrono_literals;

constexpr char kSimPath[] = NASSCOUT_SIM_PATH;
constexpr char kLabPath[] = NASSCOUT_LAB_PATH;

// Bad command lines and device files exit with 2; a port taken (by the test)
// or an address not on this host with 1. A run that outlives ten seconds is
// killed, so a simulator that wrongly starts serving, or loops, fails its
// row. nasscout-lab parses its options and device files with the same code.
TEST(SimOptions, EachFailureExitsWithItsStatusAndALineNamingTheProblem)
{
    const std::string good = LabSimulator::Device("192.0.2.10", "a");
    const std::string full =
        R"({"ip": "192.0.2.10", "id": "a", "host": "h", "vendor": "v", "product": "p", "detail": "d", "version": "1"})";
    FinderLab lab;
    const TemporaryDirectory& scratch = lab.files;
    const std::string broken = scratch.Write("broken.json", "{\"devices\": [{\"ip\": \"192.0.2.10\",");
    const std::string lacking = scratch.Write("lacking.json", R"({"devices": [)" + full + R"(, {"ip": "192.0.2.11"}]})");
    const std::string numeric = scratch.Write("numeric.json", R"({"devices": [{"ip": "192.0.2.10", "id": 7}]})");
    const std::string huge = scratch.Write("huge.json", R"({"devices": [)" + full + R"(], "note": 1e400})");
    const std::string bare = scratch.Write("bare.json", "[]");
    const std::string missing = scratch.File("missing.json");
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> named;  // what the message must name
        int status = 2;
        int heldPort = 0;
        const char* program = kSimPath;
    } cases[] = {
        // Boost 1.74's own message for these never comes.
        {{"--bogus%canonical_option%"}, {"'--bogus%canonical_option%'"}},
        {{"--max-delay", "%value%", "--device", good}, {"('%value%') for option '--max-delay'"}},
        {{"--leave-after", "%value%", "--", "true"}, {"('%value%') for option '--leave-after'"}, 2, 0, kLabPath},
        {{"--dev", "x"}, {"'--dev' is ambiguous and matches '--device', and '--devices'"}},
        {{}, {"no devices"}},
        {{"--count", "3"}, {"--first-address"}},
        {{"--count", "1", "--first-address", "192.0.2"}, {"192.0.2"}},
        {{"--count", "65537", "--first-address", "198.18.0.1"}, {"--count 65537", "65536"}},
        {{"--max-delay", "-1", "--device", good}, {"--max-delay"}},
        // What came from the command line is escaped onto the one line.
        {{"--device", "ip=192.0.2.10,id=a\x1b[2J\nb"}, {"a\\x1b[2J\\x0ab"}},
        // Device files: the message names the file and the fault.
        {{"--devices", broken}, {broken, "not valid JSON"}},
        {{"--devices", lacking}, {lacking, "device 2: no \"id\""}},
        {{"--devices", numeric}, {numeric, "\"id\" is not a string"}},
        {{"--devices", huge}, {huge, "number overflow parsing '1e400'"}},
        {{"--devices", huge, "--", "true"}, {huge, "1e400"}, 2, 0, kLabPath},
        {{"--devices", scratch.path()}, {scratch.path(), "directory"}},
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
        std::vector<std::string> command{bad.program};
        command.insert(command.end(), bad.arguments.begin(), bad.arguments.end());
        const ProgramRun run = lab.Finish(lab.Spawn(command), 10s);
        EXPECT_EQ(run.status, bad.status);
        EXPECT_EQ(run.out, "");
        for (const std::string& named : bad.named) EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
        // The message, and for bad options the hint to --help.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), bad.status == 2 ? 2 : 1) << run.err;
    }
}

// A stop that comes while the simulator still reads its devices (here from
// a pipe that gives nothing yet) ends it at once with status 0, as a stop
// after start-up does; the default action of SIGTERM used to end it.
TEST(SimOptions, AStopDuringStartUpEndsItWithStatusZero)
{
    FinderLab lab;
    const std::string slow = lab.files.File("slow.json");
    ASSERT_EQ(mkfifo(slow.c_str(), 0600), 0);
    const pid_t sim = lab.Spawn({kSimPath, "--devices", slow});
    // Opening the writing end succeeds once the simulator has opened the other.
    int writer = -1;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         writer < 0 && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
        writer = open(slow.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ASSERT_GE(writer, 0) << "the simulator never opened its devices file";
    kill(sim, SIGTERM);
    EXPECT_EQ(lab.finder.Wait(sim, 10s), 0) << lab.Err();
    close(writer);
}

}  // namespace
