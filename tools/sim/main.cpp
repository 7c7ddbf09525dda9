// nasscout-sim: NAS devices on the network, for tests, demos and benchmarks,
// and for checking that a network lets discovery through.
#include "sim_options.h"
#include "simulator.h"
#include "tools/common/option_error.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <new>

namespace {

// Until the devices are announced there is nothing to take back: a stop
// ends the program at once, even in the middle of reading a large file.
extern "C" void EndBeforeAnnouncing(int) { _exit(0); }

int Run(int argc, char** argv)
{
    sim::SimOptions options;
    std::string message;
    switch (sim::ParseOptions(argc, argv, options, message)) {
    case sim::OptionsResult::Help:
        std::cout << message;
        return 0;
    case sim::OptionsResult::Error:
        return tools::ReportOptionError("nasscout-sim", message);
    case sim::OptionsResult::Run:
        break;
    }

    boost::asio::io_context io;
    sim::Simulator simulator(io, options.devices, options.maxDelayMs, options.verbose);
    if (!simulator.Open(message)) {
        std::cerr << "nasscout-sim: " << message << std::endl;
        return 1;
    }
    // From the first announcement on, a stop says bye-bye: the signal set
    // takes the two signals over before it.
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& failure, int) {
        if (failure) return;
        simulator.Stop();
        io.stop();
    });
    simulator.Start();
    std::cout << "nasscout-sim: ready, " << options.devices.size() << " devices" << std::endl;
    io.run();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    struct sigaction stop {};
    stop.sa_handler = EndBeforeAnnouncing;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    // A reader that goes away (a script that saw the ready line) must not end
    // the devices before they say bye-bye; writes to it just fail.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "nasscout-sim: out of memory" << std::endl;
        return 1;
    }
}
