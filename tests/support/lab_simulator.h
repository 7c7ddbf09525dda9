// nasscout-sim running inside a host of the network lab, for tests that need
// real devices on the other side of a bridge.
#pragma once

#include "lab/netlab.h"
#include "temporary_directory.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class LabSimulator {
public:
    // Starts the simulator in `host` with `arguments` and waits for its ready line.
    LabSimulator(netlab::Host& host, const std::vector<std::string>& arguments) : host_(host)
    {
        std::vector<std::string> command{NASSCOUT_SIM_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        output_ = directory_.path() + "/sim.out";
        pid_ = host_.Spawn(command, output_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Output().find("nasscout-sim: ready") != std::string::npos) {
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~LabSimulator() { Stop(); }
    LabSimulator(const LabSimulator&) = delete;
    LabSimulator& operator=(const LabSimulator&) = delete;

    bool ready() const { return ready_; }
    std::string Output() const { return ReadWholeFile(output_); }

    // Stops it with SIGTERM (it says bye-bye first); its exit status.
    int Stop()
    {
        if (pid_ <= 0) return status_;
        status_ = host_.Stop(pid_);
        pid_ = -1;
        return status_;
    }

    // The --device text of a complete device at `ip`.
    static std::string Device(const std::string& ip, const std::string& id, const std::string& vendor = "ZORVA")
    {
        return "ip=" + ip + ",id=" + id + ",host=host-" + id + ",vendor=" + vendor +
               ",product=NS200,detail=A1,version=2.1.0";
    }

private:
    netlab::Host& host_;
    TemporaryDirectory directory_;
    std::string output_;
    pid_t pid_ = -1;
    int status_ = -1;
    bool ready_ = false;
};
