#include "figures.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace discovery {

namespace {

using Runs = std::vector<const RunResult*>;
using Measure = std::function<std::optional<double>(const RunResult&)>;

std::optional<double> Median(std::vector<double> values)
{
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::optional<double> MedianOf(const Runs& runs, const Measure& measure)
{
    std::vector<double> values;
    for (const RunResult* run : runs) {
        if (auto value = measure(*run)) values.push_back(*value);
    }
    return Median(values);
}

std::string Number(std::optional<double> value, int decimals)
{
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, *value);
    return text;
}

// Every run of the benchmark, by (N, W), program key and round.
class RunTable {
public:
    explicit RunTable(const std::vector<RunResult>& runs)
    {
        for (const RunResult& run : runs) {
            cells_[{run.devices, run.delayMs}][run.program].push_back(&run);
            delays_.insert(run.delayMs);
            if (run.devices > 0) devices_.insert(run.devices);
        }
    }

    const std::set<int>& devices() const { return devices_; }
    const std::set<int>& delays() const { return delays_; }

    Runs Of(int devices, int delayMs, const std::string& program) const
    {
        auto cell = cells_.find({devices, delayMs});
        if (cell == cells_.end()) return {};
        auto found = cell->second.find(program);
        return found == cell->second.end() ? Runs{} : found->second;
    }

    // `program`'s run in the same (N, W) and round as `run`.
    const RunResult* SameRound(const RunResult& run, const std::string& program) const
    {
        for (const RunResult* other : Of(run.devices, run.delayMs, program)) {
            if (other->round == run.round) return other;
        }
        return nullptr;
    }

    const RunResult* FloorOf(const RunResult& run) const { return SameRound(run, "floor"); }

    // The program's start-up and idle CPU for runs as long as those with W.
    std::optional<double> IdleCpuMs(int delayMs, const std::string& program) const
    {
        return MedianOf(Of(0, delayMs, program), [](const RunResult& run) { return run.cpuMs; });
    }

    std::optional<double> CpuPerDatagramUs(const RunResult& run) const
    {
        const std::optional<double> idle = IdleCpuMs(run.delayMs, run.program);
        if (!idle || run.datagrams <= 0) return std::nullopt;
        return (run.cpuMs - *idle) * 1e3 / static_cast<double>(run.datagrams);
    }

    // The median over the rounds of the run's measure divided by that of
    // `reference`'s run in the same round.
    std::optional<double> RatioTo(const Runs& runs, const Measure& measure, const std::string& reference) const
    {
        return MedianOf(runs, [&](const RunResult& run) -> std::optional<double> {
            const RunResult* other = SameRound(run, reference);
            if (other == nullptr) return std::nullopt;
            const auto ours = measure(run), theirs = measure(*other);
            if (!ours || !theirs || *theirs <= 0) return std::nullopt;
            return *ours / *theirs;
        });
    }

    std::optional<double> RatioToFloor(const Runs& runs, const Measure& measure) const
    {
        return RatioTo(runs, measure, "floor");
    }

    std::optional<double> LastAfterFloorMs(const Runs& runs) const
    {
        return MedianOf(runs, [&](const RunResult& run) -> std::optional<double> {
            const RunResult* floor = FloorOf(run);
            if (floor == nullptr || run.lastMs < 0 || floor->lastMs < 0) return std::nullopt;
            return run.lastMs - floor->lastMs;
        });
    }

private:
    std::map<std::pair<int, int>, std::map<std::string, Runs>> cells_;
    std::set<int> devices_;
    std::set<int> delays_;
};

std::optional<double> FoundShare(const RunResult& run) { return run.devices ? 100.0 * run.found / run.devices : 0.0; }
std::optional<double> CpuMs(const RunResult& run) { return run.cpuMs; }
std::optional<double> LastMs(const RunResult& run)
{
    return run.lastMs >= 0 ? std::optional<double>(run.lastMs) : std::nullopt;
}

void WriteMainTable(std::ostringstream& out, const RunTable& table)
{
    out << "| N | W ms | program | found % | last ms | after floor ms | CPU µs/datagram | × floor | CPU ms "
           "| × floor | peak RSS MiB | drops | datagrams |\n"
           "|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (int devices : table.devices()) {
        for (int delayMs : table.delays()) {
            for (const Program& program : kPrograms) {
                const Runs runs = table.Of(devices, delayMs, program.key);
                if (runs.empty()) continue;
                const bool isFloor = std::string(program.key) == "floor";
                const Measure perDatagram = [&](const RunResult& run) { return table.CpuPerDatagramUs(run); };
                std::string found = Number(MedianOf(runs, FoundShare), 1);
                double lowest = 100;
                for (const RunResult* run : runs) lowest = std::min(lowest, *FoundShare(*run));
                if (lowest < *MedianOf(runs, FoundShare)) found += " (min " + Number(lowest, 1) + ")";
                long long drops = 0;
                for (const RunResult* run : runs) drops = std::max(drops, run->drops);
                out << "| " << devices << " | " << delayMs << " | " << program.label << " | " << found << " | "
                    << Number(MedianOf(runs, LastMs), 1) << " | "
                    << (isFloor ? "" : Number(table.LastAfterFloorMs(runs), 1)) << " | "
                    << Number(MedianOf(runs, perDatagram), 2) << " | "
                    << (isFloor ? "" : Number(table.RatioToFloor(runs, perDatagram), 2)) << " | "
                    << Number(MedianOf(runs, CpuMs), 1) << " | "
                    << (isFloor ? "" : Number(table.RatioToFloor(runs, CpuMs), 2)) << " | "
                    << Number(MedianOf(runs, [](const RunResult& run) { return run.peakRssMiB; }), 1) << " | "
                    << drops << " | "
                    << Number(MedianOf(runs, [](const RunResult& run) { return double(run.datagrams); }), 0)
                    << " |\n";
            }
        }
    }
}

void WriteIdleTable(std::ostringstream& out, const RunTable& table)
{
    out << "| W ms | run s | program | CPU ms | peak RSS MiB |\n|---:|---:|---|---:|---:|\n";
    for (int delayMs : table.delays()) {
        for (const Program& program : kPrograms) {
            const Runs runs = table.Of(0, delayMs, program.key);
            if (runs.empty()) continue;
            out << "| " << delayMs << " | " << RunSeconds(delayMs) << " | " << program.label << " | "
                << Number(MedianOf(runs, CpuMs), 1) << " | "
                << Number(MedianOf(runs, [](const RunResult& run) { return run.peakRssMiB; }), 1) << " |\n";
        }
    }
}

void Goal(std::ostringstream& out, bool met, const std::string& text)
{
    out << "- " << (met ? "met" : "**missed**") << ": " << text << "\n";
}

// A bound checked on each of W's medians; the text lists them.
struct Bound {
    bool met = true;
    bool measured = true;  // false when a median could not be had (a floor within noise of its idle cost)
    std::string values;

    void Check(std::optional<double> value, double limit, int delayMs, int decimals)
    {
        measured = measured && value;
        met = met && (!value || *value <= limit);
        values += (values.empty() ? "" : ", ") + Number(value, decimals) + " (W " + std::to_string(delayMs) + ")";
    }
};

void Goal(std::ostringstream& out, const Bound& bound, const std::string& text)
{
    if (bound.met && !bound.measured) {
        out << "- not measured: " << text << bound.values << "\n";
        return;
    }
    Goal(out, bound.met, text + bound.values);
}

void WriteGoals(std::ostringstream& out, const RunTable& table)
{
    if (table.devices().empty()) return;
    const int devices = *table.devices().rbegin();
    out << "Goals at N = " << devices << ", against the floor or the C client of the same rounds:\n\n";

    int runs = 0, complete = 0;
    long long drops = 0;
    for (int delayMs : table.delays()) {
        for (const Program& program : kPrograms) {
            for (const RunResult* run : table.Of(devices, delayMs, program.key)) {
                ++runs;
                complete += run->found == run->devices;
                drops = std::max(drops, run->drops);
            }
        }
    }
    Goal(out, complete == runs, "every device found in every run, burst and spread: " + std::to_string(complete) +
                                    " of " + std::to_string(runs) + " runs");
    Goal(out, drops == 0, "no receive-buffer drops: at most " + std::to_string(drops) + " in a run");

    for (const char* key : {"cli", "watch"}) {
        const std::string label = key == std::string("cli") ? "cli --json" : "cli --watch --json";
        Bound perDatagram, whole, idle, memory;
        for (int delayMs : table.delays()) {
            const Runs runs = table.Of(devices, delayMs, key);
            perDatagram.Check(table.RatioToFloor(runs, [&](const RunResult& run) { return table.CpuPerDatagramUs(run); }),
                              2, delayMs, 2);
            whole.Check(table.RatioTo(runs, CpuMs, "client"), 1.3, delayMs, 2);
            idle.Check(table.IdleCpuMs(delayMs, key), 20, delayMs, 1);
            memory.Check(MedianOf(runs, [](const RunResult& run) { return run.peakRssMiB; }), 10, delayMs, 1);
        }
        Goal(out, perDatagram, label + ": CPU per datagram at most 2× the floor's: ");
        Goal(out, whole, label + ": whole-process CPU at most 1.3× the C client's: ");
        Goal(out, idle, label + ": start-up and idle CPU at most 20 ms: ");
        Goal(out, memory, label + ": peak RSS at most 10 MiB: ");
    }
    Bound burst;
    burst.Check(table.LastAfterFloorMs(table.Of(devices, 0, "watch")), 10, 0, 1);
    Goal(out, burst, "cli --watch --json prints the last device of a burst at most 10 ms after the floor's last "
                     "datagram, in ms: ");
}

}  // namespace

std::string FormatFigures(const std::vector<RunResult>& runs, const std::string& machine)
{
    const RunTable table(runs);
    int rounds = 0;
    bool requestsSeen = true;
    for (const RunResult& run : runs) {
        rounds = std::max(rounds, run.round + 1);
        requestsSeen = requestsSeen && run.requestSeen;
    }
    std::ostringstream out;
    out << machine << "\n"
        << (rounds == 1 ? std::string("One round") : "Medians of " + std::to_string(rounds) + " rounds")
        << ". N devices answer each search over W ms. CPU µs/datagram: CPU beyond "
        << "the program's idle cost (N = 0) per UDP datagram it read; × floor: the median of the ratios to the floor "
        << "of the same round; after floor: last ms minus the floor's, same round; drops: the most in one run.\n\n";
    WriteMainTable(out, table);
    out << "\nStart-up and idle cost (N = 0):\n\n";
    WriteIdleTable(out, table);
    out << "\n";
    WriteGoals(out, table);
    if (!requestsSeen) out << "\nSome runs' requests were not seen on the wire; their last ms count from the start.\n";
    return out.str();
}

}  // namespace discovery
