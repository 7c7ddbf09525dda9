// The device store's list: records in order of first appearance, at most one
// per ip, with indexes by ip and by id so that finding the entry a report
// concerns costs the same with thousands of entries as with a few.
//
// Not thread-safe: the store calls it under its mutex. Every operation that
// can run out of memory throws std::bad_alloc with the list unchanged.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

class DeviceList {
    using Order = std::uint64_t;
    using Entries = std::map<Order, deviceinfo>;

public:
    // Walks the entries in list order.
    class ConstIterator {
    public:
        explicit ConstIterator(Entries::const_iterator at) : at_(at) {}
        const deviceinfo& operator*() const { return at_->second; }
        ConstIterator& operator++()
        {
            ++at_;
            return *this;
        }
        bool operator!=(const ConstIterator& other) const { return at_ != other.at_; }

    private:
        Entries::const_iterator at_;
    };

    // The entry with the record's ip, or null. Valid until the next change.
    deviceinfo* FindByIp(const char* ip);

    // Adds the record at the end; its ip must not be listed yet.
    void Append(const deviceinfo& device);

    // Overwrites `entry` (from FindByIp) with a record of the same ip, in place.
    void Replace(deviceinfo& entry, const deviceinfo& device);

    // The first entry in list order with this id, or null. Valid until the next change.
    const deviceinfo* FindFirstWithId(const char* id) const;

    // Removes the first entry in list order with this id, and returns it.
    std::optional<deviceinfo> RemoveFirstWithId(const char* id);

    // Removes the entry with this ip, and returns it.
    std::optional<deviceinfo> RemoveByIp(const char* ip);

    // Calls keep(entry) for every entry in list order; keep may change the
    // entry's lifetime, nothing else. Entries it returns false for move to
    // `removed`, which must already have room for them: nothing allocates.
    template <typename Keep>
    void KeepWhere(Keep keep, std::vector<deviceinfo>& removed);

    template <typename Predicate>
    std::size_t CountWhere(Predicate predicate) const;

    // Replaces `destination` with a copy of the list, reusing its storage
    // when it is large enough.
    void CopyTo(std::vector<deviceinfo>& destination) const;

    // Empties the list and hands over its entries; never allocates.
    DeviceList TakeAll();

    std::size_t size() const { return entries_.size(); }
    ConstIterator begin() const { return ConstIterator(entries_.begin()); }
    ConstIterator end() const { return ConstIterator(entries_.end()); }

private:
    // A device text as a hash key: the text up to its end, zero-filled, so
    // two keys are equal exactly when SameDeviceText says the texts are.
    // Making one never allocates, so neither does a removal.
    struct TextKey {
        explicit TextKey(const char* text);
        bool operator==(const TextKey& other) const { return text == other.text; }
        std::array<char, DEVICEINFO_TEXT_SIZE> text{};
    };
    struct TextKeyHash {
        std::size_t operator()(const TextKey& key) const;
    };
    void Unindex(Entries::iterator entry);
    void RemoveFromId(const char* id, Order order);

    // Keyed by the order of first appearance.
    Entries entries_;
    Order nextOrder_ = 0;
    std::unordered_map<TextKey, Entries::iterator, TextKeyHash> entryByIp_;
    // Several addresses may report one id; a bye-bye removes the first.
    std::unordered_map<TextKey, std::set<Order>, TextKeyHash> ordersById_;
};

template <typename Keep>
void DeviceList::KeepWhere(Keep keep, std::vector<deviceinfo>& removed)
{
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        if (keep(entry->second)) {
            ++entry;
            continue;
        }
        removed.push_back(entry->second);
        Unindex(entry);
        entry = entries_.erase(entry);
    }
}

template <typename Predicate>
std::size_t DeviceList::CountWhere(Predicate predicate) const
{
    std::size_t count = 0;
    for (const auto& entry : entries_) count += predicate(entry.second) ? 1 : 0;
    return count;
}
