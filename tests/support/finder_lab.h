// The lab most network tests stand in: a finder host on one or two LANs and
// hosts of simulated devices beside it. LAN 1 is 192.0.2.0/24 and LAN 2
// 198.51.100.0/24, the finder is .1 on each, so an address names its LAN.
// For GoogleTest programs; the test thread owns it.
#pragma once

#include "lab/netlab.h"
#include "lab_simulator.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// One device nasscout-sim plays, written out by LabSimulator::Device.
struct LabDevice {
    std::string ip;
    std::string id;
    std::string vendor = "ZORVA";
};

// A program that ran in the finder: its exit status and what it printed.
struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

class FinderLab {
public:
    explicit FinderLab(int lanCount = 1)
        : lans(lanCount == 1 ? std::vector{lab.AddLan()} : std::vector{lab.AddLan(), lab.AddLan()}),
          finder(lab.AddHost("finder", lanCount == 1 ? Interfaces{{lans[0], "192.0.2.1/24"}}
                                                     : Interfaces{{lans[0], "192.0.2.1/24"}, {lans[1], "198.51.100.1/24"}}))
    {
        WaitUntilForwarding(finder);
    }
    FinderLab(const FinderLab&) = delete;
    FinderLab& operator=(const FinderLab&) = delete;

    // A new host holding every one of `addresses` (each a /24) on its one
    // interface, plugged into the LAN of the first.
    netlab::Host& AddHost(const std::string& name, const std::vector<std::string>& addresses)
    {
        netlab::Lan lan = lans.at(addresses.front().rfind("192.0.2.", 0) == 0 ? 0 : 1);
        netlab::Host& host = lab.AddHost(name, {{lan, addresses.front() + "/24"}});
        std::vector<std::string> more;
        for (size_t index = 1; index < addresses.size(); ++index) more.push_back(addresses[index] + "/24");
        if (!more.empty()) host.AddAddresses(more);
        WaitUntilForwarding(host);
        return host;
    }

    // Starts nasscout-sim in `host`; it runs until the lab goes or the test
    // stops it. A simulator that never says it is ready fails the test.
    LabSimulator& StartSimulator(netlab::Host& host, const std::vector<std::string>& arguments)
    {
        simulators_.push_back(std::make_unique<LabSimulator>(host, arguments));
        if (!simulators_.back()->ready()) ADD_FAILURE() << "nasscout-sim is not ready: " << simulators_.back()->Output();
        return *simulators_.back();
    }

    // A new host with the address of every one of `devices`, and nasscout-sim playing them.
    LabSimulator& StartDevices(const std::string& name, const std::vector<LabDevice>& devices)
    {
        std::vector<std::string> addresses, arguments;
        for (const LabDevice& device : devices) {
            addresses.push_back(device.ip);
            arguments.insert(arguments.end(), {"--device", LabSimulator::Device(device.ip, device.id, device.vendor)});
        }
        return StartSimulator(AddHost(name, addresses), arguments);
    }

    // Starts `command` in the finder, its standard output and error each in a file of its own.
    pid_t Spawn(const std::vector<std::string>& command)
    {
        std::vector<std::string> redirected{"/bin/sh", "-c", "exec \"$@\" 2>\"$0\"", files.File("err")};
        redirected.insert(redirected.end(), command.begin(), command.end());
        return finder.Spawn(redirected, files.File("out"));
    }

    // Waits for a spawned program, killing it after `timeout`.
    ProgramRun Finish(pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        const int status = finder.Wait(pid, timeout);
        return {status, Out(), Err()};
    }

    ProgramRun Run(const std::vector<std::string>& command) { return Finish(Spawn(command)); }

    std::string Out() const { return ReadWholeFile(files.File("out")); }
    std::string Err() const { return ReadWholeFile(files.File("err")); }

    netlab::Lab lab;
    std::vector<netlab::Lan> lans;
    netlab::Host& finder;
    TemporaryDirectory files;

private:
    using Interfaces = std::vector<std::pair<netlab::Lan, std::string>>;

    // The kernel notices a new link's carrier a moment later, up to a second
    // under load; until then the bridge drops what the host sends or is sent.
    static void WaitUntilForwarding(const netlab::Host& host)
    {
        host.Run({"/bin/sh", "-c", "for i in $(seq 300); do ip -o link show eth0 | grep -q 'state UP' && exit; sleep 0.01; done"});
        netlab::RunCommand({"/bin/sh", "-c", "for i in $(seq 300); do bridge link | grep -qv 'state forwarding' || exit; sleep 0.01; done"});
    }

    // Declared after the lab: the simulators stop before their hosts go.
    std::vector<std::unique_ptr<LabSimulator>> simulators_;
};
