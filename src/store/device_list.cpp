#include "device_list.h"

#include <cstring>
#include <string_view>
#include <utility>

DeviceList::TextKey::TextKey(const char* source)
{
    std::memcpy(text.data(), source, strnlen(source, text.size()));
}

std::size_t DeviceList::TextKeyHash::operator()(const TextKey& key) const
{
    return std::hash<std::string_view>{}(std::string_view(key.text.data(), strnlen(key.text.data(), key.text.size())));
}

deviceinfo* DeviceList::FindByIp(const char* ip)
{
    const auto found = entryByIp_.find(TextKey(ip));
    return found == entryByIp_.end() ? nullptr : &found->second->second;
}

void DeviceList::Append(const deviceinfo& device)
{
    const Order order = nextOrder_;
    const auto entry = entries_.emplace_hint(entries_.end(), order, device);
    try {
        entryByIp_.emplace(TextKey(device.ip), entry);
        try {
            ordersById_[TextKey(device.id)].insert(order);
        } catch (...) {
            entryByIp_.erase(TextKey(device.ip));
            RemoveFromId(device.id, order);  // an empty set may have been made
            throw;
        }
    } catch (...) {
        entries_.erase(entry);
        throw;
    }
    ++nextOrder_;
}

void DeviceList::Replace(deviceinfo& entry, const deviceinfo& device)
{
    if (!SameDeviceText(entry.id, device.id)) {
        const Order order = entryByIp_.at(TextKey(entry.ip))->first;
        try {
            ordersById_[TextKey(device.id)].insert(order);
        } catch (...) {
            RemoveFromId(device.id, order);
            throw;
        }
        RemoveFromId(entry.id, order);
    }
    entry = device;
}

const deviceinfo* DeviceList::FindFirstWithId(const char* id) const
{
    const auto orders = ordersById_.find(TextKey(id));
    return orders == ordersById_.end() ? nullptr : &entries_.at(*orders->second.begin());
}

std::optional<deviceinfo> DeviceList::RemoveFirstWithId(const char* id)
{
    const auto orders = ordersById_.find(TextKey(id));
    if (orders == ordersById_.end()) return std::nullopt;
    const auto entry = entries_.find(*orders->second.begin());
    deviceinfo removed = entry->second;
    Unindex(entry);
    entries_.erase(entry);
    return removed;
}

std::optional<deviceinfo> DeviceList::RemoveByIp(const char* ip)
{
    const auto found = entryByIp_.find(TextKey(ip));
    if (found == entryByIp_.end()) return std::nullopt;
    const Entries::iterator entry = found->second;
    deviceinfo removed = entry->second;
    Unindex(entry);
    entries_.erase(entry);
    return removed;
}

void DeviceList::CopyTo(std::vector<deviceinfo>& destination) const
{
    if (destination.capacity() < entries_.size()) {
        std::vector<deviceinfo> larger;
        larger.reserve(entries_.size());
        destination.swap(larger);
    }
    destination.clear();
    for (const auto& entry : entries_) destination.push_back(entry.second);
}

DeviceList DeviceList::TakeAll()
{
    DeviceList taken;
    std::swap(taken.entries_, entries_);
    std::swap(taken.entryByIp_, entryByIp_);
    std::swap(taken.ordersById_, ordersById_);
    return taken;
}

void DeviceList::Unindex(Entries::iterator entry)
{
    entryByIp_.erase(TextKey(entry->second.ip));
    RemoveFromId(entry->second.id, entry->first);
}

void DeviceList::RemoveFromId(const char* id, Order order)
{
    const auto orders = ordersById_.find(TextKey(id));
    if (orders == ordersById_.end()) return;
    orders->second.erase(order);
    if (orders->second.empty()) ordersById_.erase(orders);
}
