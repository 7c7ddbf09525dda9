// nasscout-sim: NAS devices on the network, for tests, demos and benchmarks,
// and for checking that a network lets discovery through.
#include "sim_options.h"
#include "simulator.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    sim::SimOptions options;
    std::string message;
    switch (sim::ParseOptions(argc, argv, options, message)) {
    case sim::OptionsResult::Help:
        std::cout << message;
        return 0;
    case sim::OptionsResult::Error:
        std::cerr << "nasscout-sim: " << message << "\nTry 'nasscout-sim --help'." << std::endl;
        return 2;
    case sim::OptionsResult::Run:
        break;
    }

    // A reader that goes away (a script that saw the ready line) must not end
    // the devices before they say bye-bye; writes to it just fail.
    std::signal(SIGPIPE, SIG_IGN);
    boost::asio::io_context io;
    // Taken before any socket exists, so that a stop request arriving during
    // start-up still ends in the bye-bye announcements.
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    sim::Simulator simulator(io, options.devices, options.maxDelayMs, options.verbose);
    if (!simulator.Open(message)) {
        std::cerr << "nasscout-sim: " << message << std::endl;
        return 1;
    }
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
