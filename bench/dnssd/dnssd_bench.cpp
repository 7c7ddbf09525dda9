// dnssd_bench: how fast nasscout-cli --all-makes --watch lists NAS hosts that
// announce a file share over DNS-SD, and what that costs the finder in CPU.
// Each host is an avahi-daemon of its own in a host of a private network; the
// finder browses through an avahi-daemon on a bus of its own, as a desktop does.
#include "lab/avahi_daemons.h"
#include "lab/netlab.h"
#include "tools/common/command_line.h"
#include "tools/common/option_error.h"
#include "watch_run.h"

#include <boost/program_options.hpp>

#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace po = boost::program_options;
using dnssd_bench::g_stopSignal;

namespace {

const char kUsage[] =
    "Usage: dnssd_bench [OPTION]...\n"
    "Starts a private network of NAS hosts on 198.18.0.0/15, each with an avahi-daemon\n"
    "announcing a file share, and in each round a new finder host with an avahi-daemon\n"
    "of its own. There it runs nasscout-cli --all-makes --watch --json twice, first\n"
    "with nothing cached (cold), then again (warm), and measures the time until the\n"
    "last host is listed and the CPU of nasscout-cli and the finder's avahi-daemon.\n"
    "Prints a Markdown table and writes it to the --output file. Needs root.\n";

struct Plan {
    int hosts = 200;
    int rounds = 3;
    int limitSeconds = 20;
    bool plainLan = false;
    std::string output;
    std::string cli;
};

struct Row {
    int round;
    bool cold;
    dnssd_bench::WatchRun run;
};

struct Stopped {};

void OnStopSignal(int signal) { g_stopSignal = signal; }

void StopIfAsked()
{
    if (g_stopSignal != 0) throw Stopped{};
}

// The command line into `plan`; the status to exit with when the run ends
// here (help, bad options), else -1.
int ReadPlan(int argc, char** argv, Plan& plan)
{
    po::options_description described("Options");
    // clang-format off
    described.add_options()
        ("help,h", "show this help and exit")
        ("hosts,n", po::value(&plan.hosts)->value_name("N")->default_value(plan.hosts), "NAS hosts, 1 to 1000")
        ("rounds,r", po::value(&plan.rounds)->value_name("R")->default_value(plan.rounds), "rounds, 1 to 20")
        ("limit", po::value(&plan.limitSeconds)->value_name("S")->default_value(plan.limitSeconds),
         "seconds a run may take, 1 to 600")
        ("plain-lan", po::bool_switch(&plan.plainLan),
         "let every host hear every other's multicast, on the same CPUs as the finder")
        ("output,o", po::value(&plan.output)->value_name("FILE")->default_value("dnssd-bench.md"),
         "the file for the figures")
        ("cli", po::value(&plan.cli)->value_name("PATH")->default_value(NASSCOUT_CLI_PATH), "nasscout-cli");
    // clang-format on
    po::variables_map values;
    std::string message;
    switch (tools::ReadCommandLine(argc, argv, described, {kUsage}, values, message)) {
    case tools::CommandLineResult::Help:
        std::cout << message;
        return 0;
    case tools::CommandLineResult::Version:
    case tools::CommandLineResult::Error:
        return tools::ReportOptionError("dnssd_bench", message);
    case tools::CommandLineResult::Run:
        break;
    }
    if (!tools::InRange("--hosts", plan.hosts, 1, 1000, message) ||
        !tools::InRange("--rounds", plan.rounds, 1, 20, message) ||
        !tools::InRange("--limit", plan.limitSeconds, 1, 600, message))
        return tools::ReportOptionError("dnssd_bench", message);
    return -1;
}

// 198.18.2.1 upward; the finders take 198.18.0.1 upward.
std::string HostAddress(int index)
{
    const int number = 2 * 256 + 1 + index;
    return "198.18." + std::to_string(number / 256) + "." + std::to_string(number % 256) + "/15";
}

// All are started before any is waited for: each spends seconds probing its
// name, and one after the other would take minutes.
std::vector<std::unique_ptr<netlab::AvahiDaemon>> StartResponders(netlab::Lab& lab, const netlab::Lan& lan, int count)
{
    std::vector<std::unique_ptr<netlab::AvahiDaemon>> responders;
    for (int index = 0; index < count; ++index) {
        const std::string name = "nas-" + std::to_string(index + 1);
        netlab::Host& host = lab.AddHost(name, {{lan, HostAddress(index)}});
        responders.push_back(netlab::AvahiDaemon::Responder(host, name, {{"_smb._tcp", "", 445, {}}}));
        StopIfAsked();
    }
    for (const auto& responder : responders) {
        if (!responder->WaitReady(std::chrono::seconds(120)))
            throw std::runtime_error("a responder did not start: " + responder->Output());
        StopIfAsked();
    }
    return responders;
}

// Isolates the bridge ports the hosts have now, so that their multicast
// reaches the finders added later but not each other. On a real network each
// NAS reads the others' answers on a CPU of its own; here all of them would
// share the finder's CPUs, and 200 hosts reading 200 answers each starve it.
void IsolateHosts(const netlab::Lan& lan)
{
    const char script[] = "for port in $(ip -o link show master \"$0\" | cut -d: -f2 | cut -d@ -f1); do\n"
                          "  bridge link set dev \"$port\" isolated on || exit 1\n"
                          "done\n";
    if (netlab::RunCommand({"sh", "-c", script, lan.bridge}) != 0)
        throw std::runtime_error("cannot isolate the ports of " + lan.bridge);
}

// SIGTERM to all at once, so that their goodbyes and ends overlap.
void StopResponders(std::vector<std::unique_ptr<netlab::AvahiDaemon>>& responders)
{
    for (const auto& responder : responders) {
        if (responder->pid() > 0) kill(responder->pid(), SIGTERM);
    }
    responders.clear();
}

// Until the hosts' avahi-daemons use under 2 % of a CPU, at most 30 s: on a
// plain LAN they read each other's answers for seconds after a cold run, and
// the next run would pay for it.
void WaitQuiet(const std::vector<pid_t>& hosts)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (double before = dnssd_bench::CpuMsOf(hosts); std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const double now = dnssd_bench::CpuMsOf(hosts);
        if (now - before < 10) return;
        before = now;
        StopIfAsked();
    }
}

// `hosts`: the hosts' avahi-daemons, whose CPU each run counts.
std::vector<Row> RunRounds(netlab::Lab& lab, const netlab::Lan& lan, const Plan& plan, const std::vector<pid_t>& hosts)
{
    std::vector<Row> rows;
    for (int round = 1; round <= plan.rounds; ++round) {
        // A new finder each round, so that nothing is cached: the old one's
        // bus holds its socket until the lab goes, so no daemon restarts in place.
        const std::string address = "198.18.0." + std::to_string(round) + "/15";
        netlab::Host& finder = lab.AddHost("finder-" + std::to_string(round), {{lan, address}});
        const auto desktop = netlab::AvahiDaemon::Desktop(finder);
        if (!desktop->WaitReady())
            throw std::runtime_error("the finder's avahi-daemon did not start: " + desktop->Output());
        std::this_thread::sleep_for(std::chrono::seconds(1));  // its start-up is not the run's
        for (const bool cold : {true, false}) {
            WaitQuiet(hosts);
            const dnssd_bench::WatchRun run = dnssd_bench::RunWatch(finder, *desktop, hosts, plan.cli, plan.hosts,
                                                                    std::chrono::seconds(plan.limitSeconds));
            StopIfAsked();
            std::fprintf(stderr,
                         "dnssd_bench: round %d %s: %d of %d listed, last %.1f ms, CPU cli %.1f ms, avahi-daemon "
                         "%.1f ms (waited %.1f ms), dbus-daemon %.1f ms, hosts %.1f ms\n",
                         round, cold ? "cold" : "warm", run.listed, plan.hosts, run.lastMs, run.cliCpuMs,
                         run.daemonCpuMs, run.daemonWaitMs, run.busCpuMs, run.respondersCpuMs);
            if (run.status != 0 && run.status != 128 + SIGTERM)
                throw std::runtime_error("nasscout-cli ended with status " + std::to_string(run.status));
            rows.push_back({round, cold, run});
        }
    }
    return rows;
}

std::string Number(double value, int decimals)
{
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Machine()
{
    utsname system{};
    uname(&system);
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string model = "unknown";
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return "Machine: " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " CPUs, " + model + ", Linux " +
           system.release + ", " + date + ".\n";
}

double CpuPerHostMs(const Row& row, int hosts) { return (row.run.cliCpuMs + row.run.daemonCpuMs) / hosts; }

// The medians and the worst of the cold or the warm runs, as a table row;
// `worstMs` is -1 when a run missed a host.
std::string Summary(const std::vector<Row>& rows, bool cold, int hosts, double& worstMs)
{
    std::vector<double> last, cpu, bus, rss;
    worstMs = 0;
    for (const Row& row : rows) {
        if (row.cold != cold) continue;
        last.push_back(row.run.lastMs);
        if (worstMs >= 0) worstMs = row.run.lastMs < 0 ? -1 : std::max(worstMs, row.run.lastMs);
        cpu.push_back(CpuPerHostMs(row, hosts));
        bus.push_back(row.run.busCpuMs / hosts);
        rss.push_back(row.run.peakRssMiB);
    }
    return std::string("| ") + (cold ? "cold" : "warm") + " | " + std::to_string(last.size()) + " | " +
           Number(worstMs < 0 ? -1 : Median(last), 1) + " | " + Number(worstMs, 1) + " | " + Number(Median(cpu), 2) +
           " | " + Number(Median(bus), 2) + " | " + Number(*std::max_element(rss.begin(), rss.end()), 1) + " |\n";
}

std::string Report(const std::vector<Row>& rows, const Plan& plan)
{
    std::ostringstream out;
    out << Machine() << "\n"
        << plan.hosts << " NAS hosts, each an avahi-daemon announcing _smb._tcp, "
        << (plan.plainLan ? "all hearing each other's multicast"
                          : "on isolated bridge ports (they hear the finder only)")
        << ". Each round a new finder host and avahi-daemon: the first run finds nothing cached (cold), the second "
        << "runs on the same daemon (warm). last host: from nasscout-cli's start to the line listing the last host; "
        << "CPU per host: nasscout-cli's and the finder's avahi-daemon's CPU during the run over " << plan.hosts
        << "; waited: the time that avahi-daemon was ready to run but had no CPU; bus: the finder's dbus-daemon; "
        << "hosts: all the hosts' avahi-daemons together, on the same CPUs.\n\n"
        << "| round | daemon | listed | first host ms | last host ms | cli CPU ms | avahi-daemon CPU ms | waited ms "
           "| bus CPU ms | CPU per host ms | cli peak RSS MiB | hosts' CPU ms |\n"
        << "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const Row& row : rows) {
        const dnssd_bench::WatchRun& run = row.run;
        out << "| " << row.round << " | " << (row.cold ? "cold" : "warm") << " | " << run.listed << " | "
            << Number(run.firstMs, 1) << " | " << Number(run.lastMs, 1) << " | " << Number(run.cliCpuMs, 1) << " | "
            << Number(run.daemonCpuMs, 1) << " | " << Number(run.daemonWaitMs, 1) << " | "
            << Number(run.busCpuMs, 1) << " | " << Number(CpuPerHostMs(row, plan.hosts), 2) << " | "
            << Number(run.peakRssMiB, 1) << " | " << Number(run.respondersCpuMs, 0) << " |\n";
    }
    double coldWorst = 0, warmWorst = 0;
    out << "\n| daemon | runs | last host ms, median | last host ms, max | CPU per host ms, median | "
           "bus CPU per host ms, median | cli peak RSS MiB, max |\n"
        << "|---|---:|---:|---:|---:|---:|---:|\n"
        << Summary(rows, true, plan.hosts, coldWorst) << Summary(rows, false, plan.hosts, warmWorst) << "\n";
    const bool met = coldWorst >= 0 && coldWorst <= 2000 && warmWorst >= 0 && warmWorst <= 2000;
    out << "- " << (met ? "met" : "**missed**") << ": every host listed within 2 s in every run, cold and warm "
        << "(-: a run missed hosts): at most " << Number(coldWorst, 1) << " ms cold, " << Number(warmWorst, 1)
        << " ms warm\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv)
{
    Plan plan;
    if (const int status = ReadPlan(argc, argv, plan); status >= 0) return status;
    if (geteuid() != 0) {
        std::cerr << "dnssd_bench: needs root for its network of namespaces; run 'sudo make bench-dnssd'" << std::endl;
        return 1;
    }
    // Before any socket or thread: everything this program and its children send stays in the lab.
    netlab::EnterPrivateNetwork();
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    try {
        netlab::Lab lab;  // goes last, taking every host and leftover bus with it
        const netlab::Lan lan = lab.AddLan();
        auto responders = StartResponders(lab, lan, plan.hosts);
        if (!plan.plainLan) IsolateHosts(lan);
        // Until their announcements are over, so that the finder learns only what it asks for.
        std::this_thread::sleep_for(std::chrono::seconds(8));
        std::vector<pid_t> hostPids;
        for (const auto& responder : responders) hostPids.push_back(responder->pid());
        const std::vector<Row> rows = RunRounds(lab, lan, plan, hostPids);
        StopResponders(responders);
        const std::string report = Report(rows, plan);
        std::cout << report;
        std::ofstream file(plan.output);
        if (!(file << report)) throw std::runtime_error("cannot write " + plan.output);
    } catch (const Stopped&) {
        return 128 + g_stopSignal;
    } catch (const std::exception& failure) {
        std::cerr << "dnssd_bench: " << failure.what() << std::endl;
        return 1;
    }
    return 0;
}
