// Volume serial numbers: where each file system keeps them and how they are written.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/volume_texts.h"
#include "storage/le.h"

namespace brenvale::app {
namespace {

// A boot-sector copy filled with a pattern, so a serial read at the wrong place shows, with
// `serial` written at `offset`.
storage::TBootSector BootWithSerial(std::uint8_t fs, std::size_t offset, std::uint32_t serial) {
    storage::TBootSector boot{fs, {}};
    boot.Sector.fill(std::byte{0x5A});
    EXPECT_TRUE(storage::putLe32(boot.Sector, offset, serial));
    return boot;
}

TEST(VolumeTexts, SerialIsReadWhereEachFileSystemKeepsIt) {
    struct Case {
        std::uint8_t fs;
        std::size_t offset;
        std::uint32_t serial;
        const char* text;
    };
    const std::vector<Case> cases = {
        {storage::kFsFat12, 39, 0x0000ABCD, "ABCD"},
        {storage::kFsFat16, 39, 0, "0000"},
        {storage::kFsFat32, 67, 0xDEADBEEF, "DEAD - BEEF"},
        {storage::kFsNtfs, 72, 0x1A2B3C4D, "1A2B - 3C4D"},
        {storage::kFsExfat, 100, 0x00C0FFEE, "C0FF - EE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FileSystemName(c.fs));
        const auto boot = BootWithSerial(c.fs, c.offset, c.serial);
        EXPECT_EQ(VolumeSerial(boot), c.serial);
        EXPECT_EQ(VolumeSerialText(boot), c.text);
    }
}

TEST(VolumeTexts, NtfsShowsOnlyTheLowHalfOfItsSerial) {
    auto boot = BootWithSerial(storage::kFsNtfs, 72, 0x89ABCDEF);
    ASSERT_TRUE(storage::putLe32(boot.Sector, 76, 0x01234567));
    EXPECT_EQ(VolumeSerialText(boot), "89AB - CDEF");
}

TEST(VolumeTexts, NoSerialWithoutAKnownFileSystem) {
    for (const std::uint8_t fs : {storage::kFsUnknown, std::uint8_t{5}, std::uint8_t{0x83}}) {
        const auto boot = BootWithSerial(fs, 39, 0x12345678);
        EXPECT_EQ(VolumeSerial(boot), std::nullopt) << int{fs};
        EXPECT_EQ(VolumeSerialText(boot), "-") << int{fs};
    }
}

TEST(VolumeTexts, SerialTextSplitsAfterTheFourthDigit) {
    struct Case {
        std::uint32_t serial;
        const char* text;
    };
    // At least four digits; the separator goes after the fourth from the left, so a
    // five-digit number splits 4 + 1.
    for (const Case& c : {Case{0, "0000"}, Case{0xF, "000F"}, Case{0xFFFF, "FFFF"}, Case{0x12345, "1234 - 5"},
                          Case{0x1A2B3C4D, "1A2B - 3C4D"}, Case{0xFFFFFFFF, "FFFF - FFFF"}}) {
        EXPECT_EQ(SerialText(c.serial), c.text) << c.serial;
    }
}

}  // namespace
}  // namespace brenvale::app
