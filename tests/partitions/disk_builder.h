#pragma once
// Hand-built disks for the partition tests: tables, boot sectors and GPT structures written
// byte by byte into an in-memory image.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/gpt_types.h"
#include "storage/le.h"

namespace brenvale::test {

class DiskBuilder {
public:
    explicit DiskBuilder(std::uint64_t sectors, std::uint32_t s = 512) : s_(s), data_(sectors * s) {}

    std::vector<std::byte>& bytes() { return data_; }
    std::span<std::byte> sector(std::uint64_t lba) { return std::span(data_).subspan(lba * s_, s_); }

    // One slot of the table in sector `table`, with the 0xAA55 signature.
    DiskBuilder& entry(std::uint64_t table, int slot, std::uint8_t type, std::uint32_t start, std::uint32_t count,
                       std::uint8_t active = 0) {
        auto t = sector(table);
        const std::size_t at = 446 + slot * 16;
        t[at] = std::byte{active};
        t[at + 4] = std::byte{type};
        put32(t, at + 8, start);
        put32(t, at + 12, count);
        put16(t, 510, 0xAA55);
        return *this;
    }

    DiskBuilder& fat16(std::uint64_t lba, std::uint32_t total, std::uint32_t serial) {
        auto b = bootCommon(lba, "MSDOS5.0");
        put16(b, 11, 512);
        b[13] = std::byte{4};
        put16(b, 14, 1);
        b[16] = std::byte{2};
        put16(b, 17, 512);
        put16(b, 22, 32);
        put32(b, 32, total);
        put32(b, 39, serial);
        return *this;
    }

    DiskBuilder& fat32(std::uint64_t lba, std::uint32_t total, std::uint32_t serial) {
        auto b = bootCommon(lba, "MSWIN4.1");
        put16(b, 11, 512);
        b[13] = std::byte{1};
        put16(b, 14, 32);
        b[16] = std::byte{2};
        put32(b, 32, total);
        put32(b, 36, (total / 128) + 1);
        put32(b, 44, 2);
        put32(b, 67, serial);
        return *this;
    }

    DiskBuilder& ntfs(std::uint64_t lba, std::uint64_t total, std::uint32_t serial) {
        auto b = bootCommon(lba, "NTFS    ");
        put16(b, 11, 512);
        b[13] = std::byte{8};
        put64(b, 40, total);
        put64(b, 48, 4);
        put64(b, 56, 2);
        put32(b, 72, serial);
        return *this;
    }

    DiskBuilder& exfat(std::uint64_t lba, std::uint64_t length, std::uint32_t serial, std::uint8_t bpsShift = 9) {
        auto b = bootCommon(lba, "EXFAT   ");
        put64(b, 72, length);
        put32(b, 80, 24);
        put32(b, 84, 8);
        put32(b, 88, 64);
        put32(b, 92, 100);
        put32(b, 96, 4);
        put32(b, 100, serial);
        b[108] = std::byte{bpsShift};
        b[109] = std::byte{3};
        b[110] = std::byte{1};
        return *this;
    }

    // A copy of sector `from` at `to`, as file systems keep a backup of their boot sector.
    DiskBuilder& copySector(std::uint64_t from, std::uint64_t to) {
        const auto src = sector(from);
        std::memmove(sector(to).data(), src.data(), s_);
        return *this;
    }

    // A protective MBR, a GPT header at sector 1 and an entry array at `array`.
    DiskBuilder& gptHeader(std::uint64_t array, std::uint32_t count, std::uint32_t entrySize) {
        entry(0, 0, 0xEE, 1, 0xFFFFFFFF);
        auto h = sector(1);
        std::memcpy(h.data(), "EFI PART", 8);
        put64(h, 72, array);
        put32(h, 80, count);
        put32(h, 84, entrySize);
        array_ = array;
        entrySize_ = entrySize;
        return *this;
    }

    DiskBuilder& gptEntry(std::uint32_t index, const char* type, std::uint64_t first, std::uint64_t last,
                          const std::u16string& name, std::uint64_t attributes = 0) {
        const std::size_t at = array_ * s_ + std::size_t{index} * entrySize_;
        const auto guid = *storage::Guid::parse(type);
        std::memcpy(data_.data() + at, guid.bytes.data(), 16);
        std::span<std::byte> e(data_.data() + at, 128);
        put64(e, 32, first);
        put64(e, 40, last);
        put64(e, 48, attributes);
        for (std::size_t i = 0; i < name.size() && i < 36; ++i) put16(e, 56 + 2 * i, name[i]);
        return *this;
    }

private:
    std::span<std::byte> bootCommon(std::uint64_t lba, const char* oem) {
        auto b = sector(lba);
        std::memcpy(b.data() + 3, oem, 8);
        put16(b, 510, 0xAA55);
        return b;
    }
    static void put16(std::span<std::byte> b, std::size_t at, std::uint16_t v) { ASSERT_TRUE(storage::putLe16(b, at, v)); }
    static void put32(std::span<std::byte> b, std::size_t at, std::uint32_t v) { ASSERT_TRUE(storage::putLe32(b, at, v)); }
    static void put64(std::span<std::byte> b, std::size_t at, std::uint64_t v) { ASSERT_TRUE(storage::putLe64(b, at, v)); }

    std::uint32_t s_;
    std::vector<std::byte> data_;
    std::uint64_t array_ = 2;
    std::uint32_t entrySize_ = 128;
};

}  // namespace brenvale::test
