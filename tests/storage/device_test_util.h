#pragma once
// Shared set-up for the device tests: a fake platform with one disk whose every byte tells
// where it came from, and a recorder for the device messages.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/le.h"

namespace brenvale::test {

// Reads a field of a packed on-disk record by value: gtest takes its arguments by reference,
// and a reference to a misaligned field is undefined behaviour.
template <class T>
constexpr T Value(T v) {
    return v;
}

// Byte i of sector n is (n * 7 + i) & 0xFF, so misplaced data never passes for right.
inline std::vector<std::byte> PatternedSectors(std::uint64_t sectors, std::uint32_t s = 512) {
    std::vector<std::byte> data(sectors * s);
    for (std::uint64_t n = 0; n < sectors; ++n) {
        for (std::uint32_t i = 0; i < s; ++i) data[n * s + i] = static_cast<std::byte>((n * 7 + i) & 0xFF);
    }
    return data;
}

inline bool SectorMatches(std::span<const std::byte> got, std::uint64_t sector, std::uint32_t s = 512) {
    for (std::uint32_t i = 0; i < s; ++i) {
        if (got[i] != static_cast<std::byte>((sector * 7 + i) & 0xFF)) return false;
    }
    return true;
}

inline bool AllZero(std::span<const std::byte> got) {
    for (auto b : got) {
        if (b != std::byte{0}) return false;
    }
    return true;
}

// A FAT16 volume of `sectors` sectors whose boot sector claims 40000 (about 10000 clusters).
inline std::vector<std::byte> Fat16Volume(std::uint32_t sectors) {
    std::vector<std::byte> v(std::size_t{sectors} * 512);
    std::span<std::byte> b(v);
    EXPECT_TRUE(storage::putLe16(b, 11, 512));
    b[13] = std::byte{4};
    EXPECT_TRUE(storage::putLe16(b, 14, 1));
    b[16] = std::byte{2};
    EXPECT_TRUE(storage::putLe16(b, 17, 512));
    EXPECT_TRUE(storage::putLe16(b, 22, 40));
    EXPECT_TRUE(storage::putLe32(b, 32, 40000));
    EXPECT_TRUE(storage::putLe16(b, 510, 0xAA55));
    return v;
}

// How the platform lists a block device "/dev/<name>".
inline platform::BlockDeviceInfo BlockDevice(const std::string& name, const std::string& parent = "",
                                             std::uint64_t startByte = 0) {
    platform::BlockDeviceInfo d;
    d.name = name;
    d.path = "/dev/" + name;
    d.partition = !parent.empty();
    d.parent = parent;
    d.startByte = startByte;
    return d;
}

// Collects what the device layer reports while alive, and clears the global abort flag.
class DeviceEventRecorder {
public:
    DeviceEventRecorder() {
        storage::DeviceAborted = false;
        storage::SetOnDeviceEvent([this](const std::string& m) { messages.push_back(m); });
    }
    ~DeviceEventRecorder() {
        storage::SetOnDeviceEvent({});
        storage::DeviceAborted = false;
    }
    std::vector<std::string> messages;
};

// A fake whole disk "/dev/fake0" listed as physical drive 0x80.
class FakeDiskTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kSectors = 4096;
    static constexpr char kPath[] = "/dev/fake0";

    void SetUp() override {
        disk = &os.addDisk(kPath, PatternedSectors(kSectors));
        platform::BlockDeviceInfo info;
        info.name = "fake0";
        info.path = kPath;
        info.sizeBytes = kSectors * 512;
        info.model = "Fake Disk";
        os.whole.push_back(info);
    }

    std::unique_ptr<storage::TDevice> Open() { return std::make_unique<storage::TDevice>(os, std::uint8_t{0x80}); }

    platform::fake::FakePlatform os;
    platform::fake::FakeDisk* disk = nullptr;
    DeviceEventRecorder events;
};

}  // namespace brenvale::test
