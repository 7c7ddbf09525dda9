// How fast the receive threads turn datagrams into records, and proof that
// they allocate nothing while doing it: this program replaces the global
// operator new and counts every allocation made during a timed loop. A
// benchmark that sees one is marked with an error and the program exits 1.
#include "engine/broadcast_reply.h"
#include "engine/ssdp_message.h"
#include "engine/wire/wire_protocol.h"

#include <searchdevice/dhcppacket.h>

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

std::atomic<std::size_t> g_allocations{0};
bool g_parseAllocated = false;

void* CountedAllocation(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size); }
void* operator new[](std::size_t size) { return CountedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Datagram = std::array<char, wire::kMaxDatagramSize + 1>;  // as received: the zero after the bytes

struct ReceivedDatagram {
    Datagram bytes{};
    std::size_t length = 0;
};

ReceivedDatagram Receive(const std::string& text)
{
    ReceivedDatagram datagram;
    datagram.length = text.size() < wire::kMaxDatagramSize ? text.size() : wire::kMaxDatagramSize;
    std::memcpy(datagram.bytes.data(), text.data(), datagram.length);
    return datagram;
}

const std::string kLocation = "LOCATION: http://192.168.1.20:80/desc.xml\r\n";
const std::string kServer = "SERVER: VELD/2.1.0, x, ZORVA/nas1/NS200/A1\r\n";
const std::string kUsn = "USN: uuid:4f2a-77::upnp:rootdevice\r\n";

std::string ExampleAnswer() { return "HTTP/1.1 200 OK\r\n" + kLocation + kServer + kUsn + "\r\n"; }

// 1024 bytes that every search has to cross: the headers come last, after a
// header full of near misses that stop each first-character scan.
std::string WorstCaseAnswer()
{
    const std::string head = "HTTP/1.1 200 OK\r\nX-PAD: ";
    const std::string tail = "\r\n" + kLocation + kServer + kUsn;
    const std::string nearMisses = "VELLOCATIONSERVERUSNuuid:/NTSrootVEL:";
    std::string padding;
    while (head.size() + padding.size() + tail.size() < wire::kMaxDatagramSize)
        padding += nearMisses[padding.size() % nearMisses.size()];
    return head + padding + tail;
}

// Fails the benchmark when the timed loop allocated.
void ReportAllocations(benchmark::State& state, std::size_t before)
{
    const std::size_t allocations = g_allocations.load(std::memory_order_relaxed) - before;
    state.counters["allocations"] = static_cast<double>(allocations);
    if (allocations != 0) {
        g_parseAllocated = true;
        state.SkipWithError("the parse allocated memory");
    }
}

void RunSsdp(benchmark::State& state, const std::string& text)
{
    const ReceivedDatagram datagram = Receive(text);
    deviceinfo device;
    if (!ParseSsdpMessage(datagram.bytes.data(), datagram.length, "192.0.2.99", device) || device.type != 1 ||
        std::strcmp(device.detail, "A1") != 0) {
        state.SkipWithError("the datagram did not parse into the expected device");
        return;
    }
    const std::size_t before = g_allocations.load(std::memory_order_relaxed);
    for (auto _ : state) {
        benchmark::DoNotOptimize(datagram.bytes.data());
        bool accepted = ParseSsdpMessage(datagram.bytes.data(), datagram.length, "192.0.2.99", device);
        benchmark::DoNotOptimize(accepted);
        benchmark::DoNotOptimize(device);
    }
    ReportAllocations(state, before);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(datagram.length));
}

void BM_SsdpExampleAnswer(benchmark::State& state) { RunSsdp(state, ExampleAnswer()); }
void BM_SsdpWorstCase1024Bytes(benchmark::State& state) { RunSsdp(state, WorstCaseAnswer()); }

// A reply as the broadcast worker handles it: a fresh zeroed record each time.
void RunBroadcast(benchmark::State& state, const std::string& text)
{
    unsigned char reply[DHCPPACKET_SIZE + 1] = {DHCPPACKET_OP_REPLY, 1};
    std::memcpy(reply + DHCPPACKET_TEXT_OFFSET, text.data(), text.size() < DHCPPACKET_TEXT_SIZE ? text.size() : DHCPPACKET_TEXT_SIZE);
    const std::size_t before = g_allocations.load(std::memory_order_relaxed);
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply);
        deviceinfo device;
        ParseBroadcastReply(reply, device);
        benchmark::DoNotOptimize(device);
    }
    ReportAllocations(state, before);
    state.SetItemsProcessed(state.iterations());
}

void BM_BroadcastReply(benchmark::State& state) { RunBroadcast(state, "id=A1&host=nas&vendor=ZORVA&product=NS200"); }

// The four keys last in a text area with no zero: every search crosses all 128 bytes.
void BM_BroadcastReplyFullTextArea(benchmark::State& state)
{
    const std::string keys = "id=A1&host=nas&vendor=ZORVA&product=NS200";
    RunBroadcast(state, std::string(DHCPPACKET_TEXT_SIZE - keys.size(), 'x') + keys);
}

}  // namespace

BENCHMARK(BM_SsdpExampleAnswer);
BENCHMARK(BM_SsdpWorstCase1024Bytes);
BENCHMARK(BM_BroadcastReply);
BENCHMARK(BM_BroadcastReplyFullTextArea);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_parseAllocated ? 1 : 0;
}
