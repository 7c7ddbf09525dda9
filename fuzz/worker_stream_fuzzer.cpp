// A stream of datagrams through the workers' receive handling, the dispatch
// and the device store, as the receive threads would hand them over. The
// workers are constructed but never started: no socket is opened.
//
// The input is a run of records. Each starts with a control byte: its low
// two bits pick the broadcast (0), multicast (1) or per-address (2) worker,
// or (3) a search pass, which ages the store's list and clears every
// worker's last report; the next two bits pick the sender. A datagram
// record goes on with a big-endian 16-bit length and that many bytes (what
// is left, at the input's end; at most wire::kMaxDatagramSize).
//
// Beside the sanitizers it checks every report, and checks the store's list
// after each record against a plain list rebuilt from the store's events.
#include "engine/find_device_dispatch.h"
#include "engine/search_device_broadcast_thread.h"
#include "engine/search_device_multicast_thread.h"
#include "engine/search_device_multicommand_thread.h"
#include "engine/wire/wire_protocol.h"
#include "fuzz_check.h"
#include "record_checks.h"
#include "src/store/device_store.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kSenders[] = {"192.0.2.10", "198.51.100.20", "198.51.100.21", "203.0.113.5"};

struct Workers {
    CSearchDeviceBroadcastThread broadcast;
    CSearchDeviceMulticastThread multicast;
    CSearchDeviceMultiCommandThead perAddress;
    CSearchDeviceThread* const all[3] = {&broadcast, &multicast, &perAddress};
};

// What the store's events say its list holds, in list order.
std::vector<deviceinfo> g_model;
// The datagram being handled: whether the broadcast worker has it, and its sender.
bool g_toBroadcast = false;
const char* g_sender = nullptr;

std::vector<deviceinfo>::iterator FindInModel(char (deviceinfo::*text)[DEVICEINFO_TEXT_SIZE], const char* value)
{
    return std::find_if(g_model.begin(), g_model.end(),
                        [&](const deviceinfo& entry) { return SameDeviceText(entry.*text, value); });
}

void FollowStore(StoreEvent event, deviceinfo entry)
{
    if (event == StoreEvent::ByeBye) {
        const auto first = FindInModel(&deviceinfo::id, entry.id);
        FUZZ_CHECK(first != g_model.end() && first->compare(entry));
        g_model.erase(first);
        return;
    }
    const auto known = FindInModel(&deviceinfo::ip, entry.ip);
    if (event == StoreEvent::Appended) {
        FUZZ_CHECK(known == g_model.end());
        g_model.push_back(entry);
    } else if (event == StoreEvent::Replaced) {
        FUZZ_CHECK(known != g_model.end());
        *known = entry;
    } else {
        FUZZ_CHECK(known != g_model.end());
        g_model.erase(known);
    }
}

void* CheckReport(void* pDevice, int nSearchPort)
{
    const deviceinfo& device = *static_cast<const deviceinfo*>(pDevice);
    FUZZ_CHECK(fuzz::IsWellFormed(device));
    if (g_toBroadcast) {
        FUZZ_CHECK(std::strcmp(device.ip, g_sender) == 0);
    } else {
        FUZZ_CHECK(fuzz::IsSsdpKind(device.type));
        FUZZ_CHECK(fuzz::IsDeviceDottedQuad(device.ip));
    }
    return DeviceStoreCallback(pDevice, nSearchPort);
}

void CheckStoreMatchesModel(DeviceStore* store)
{
    std::vector<deviceinfo> listed;
    CopyDeviceList(store, listed);
    FUZZ_CHECK(listed.size() == g_model.size());
    for (std::size_t i = 0; i < listed.size(); ++i) FUZZ_CHECK(listed[i].compare(g_model[i]));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    DeviceStore* store = GetDeviceStore();
    store->printsVendorLines = false;
    store->observer = FollowStore;
    SetFindDeviceCallback(CheckReport);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Workers workers;
    DeviceStore* store = GetDeviceStore();

    // Every input starts where a refresh would leave things.
    ClearDeviceList(store);
    FUZZ_CHECK(g_model.empty());
    for (CSearchDeviceThread* worker : workers.all) worker->ClearDevice();

    std::size_t at = 0;
    while (at < size) {
        const uint8_t control = data[at++];
        if ((control & 3) == 3) {
            AgeDeviceList(store);
            for (CSearchDeviceThread* worker : workers.all) worker->ClearDevice();
            CheckStoreMatchesModel(store);
            continue;
        }
        std::size_t length = 0;
        for (int i = 0; i < 2 && at < size; ++i) length = length * 256 + data[at++];
        length = std::min({length, size - at, wire::kMaxDatagramSize});
        // The receive loop hands over no empty datagram, and a zero after every one.
        if (length == 0) continue;
        std::unique_ptr<char[]> datagram(new char[length + 1]);
        std::memcpy(datagram.get(), data + at, length);
        datagram[length] = '\0';
        at += length;

        CSearchDeviceThread* receiver = workers.all[control & 3];
        g_toBroadcast = receiver == &workers.broadcast;
        g_sender = kSenders[(control >> 2) & 3];
        std::string strSender = g_sender;
        receiver->HandleReceiveInfo(datagram.get(), static_cast<int>(length), strSender);
        CheckStoreMatchesModel(store);
    }
    return 0;
}
