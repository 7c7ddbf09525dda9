#include <searchdevice/deviceinfo.h>

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {

deviceinfo SampleDevice(int32_t type = DEVICE_TYPE_ANSWER, int64_t lifetime = 60)
{
    deviceinfo device;
    const std::pair<char*, const char*> texts[] = {{device.id, "4f2a-77"}, {device.ip, "192.0.2.20"}, {device.host, "nas1"},
        {device.product, "NS200"}, {device.detail, "A1"}, {device.version, "2.1.0"}, {device.factory, "ZORVA"}};
    for (const auto& [field, text] : texts) std::strcpy(field, text);
    device.type = type;
    device.lifetime = lifetime;
    return device;
}

}  // namespace

TEST(DeviceRecord, NewAndClearedRecordsAreEqualAndLiveSixtySeconds)
{
    deviceinfo fresh;
    deviceinfo cleared = SampleDevice(DEVICE_TYPE_ANSWER, 7);
    cleared.clear();
    EXPECT_TRUE(fresh.compare(cleared));
    EXPECT_EQ(fresh.lifetime, 60);
    EXPECT_EQ(fresh.type, 0);
    EXPECT_EQ(std::memcmp(&fresh, &cleared, sizeof fresh), 0) << "clear zero-fills every byte of every text";
}

TEST(DeviceRecord, EveryTextAndTheTypeButNotTheLifetimeAreCompared)
{
    char (deviceinfo::*fields[])[DEVICEINFO_TEXT_SIZE] = {&deviceinfo::id,     &deviceinfo::ip,      &deviceinfo::host,   &deviceinfo::product,
                                  &deviceinfo::detail, &deviceinfo::version, &deviceinfo::factory};
    for (auto field : fields) {
        deviceinfo changed = SampleDevice();
        (changed.*field)[0] ^= 0x20;
        EXPECT_FALSE(SampleDevice().compare(changed));
    }
    EXPECT_FALSE(SampleDevice(DEVICE_TYPE_ALIVE).compare(SampleDevice(DEVICE_TYPE_BYEBYE)))
        << "a bye-bye is never mistaken for an alive";
    EXPECT_TRUE(SampleDevice(DEVICE_TYPE_ALIVE).compare(SampleDevice(DEVICE_TYPE_ALIVE, 50))) << "lifetime is not compared";
}

TEST(DeviceRecord, TextsCompareUpToTheirTerminatorOrTheirOwn32Bytes)
{
    deviceinfo a = SampleDevice();
    deviceinfo b = SampleDevice();
    b.host[20] = 'x';  // after the terminator: never looked at
    EXPECT_TRUE(a.compare(b));

    std::memset(a.id, 'A', sizeof a.id);
    std::memset(b.id, 'A', sizeof b.id);
    b.ip[0] = '9';  // the next field differs: a comparison running past id would see it as part of id
    EXPECT_FALSE(a.compare(b));
    std::strcpy(b.ip, a.ip);
    EXPECT_TRUE(a.compare(b));
}
