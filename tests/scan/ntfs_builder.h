#pragma once
// A small NTFS volume built byte by byte: 512-byte sectors and clusters, 1024-byte records,
// the master file table at cluster 16. Records are written with their fix-ups, so damaged
// ones can be made by changing the bytes after finish().

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "storage/le.h"

namespace brenvale::test {

class NtfsBuilder {
public:
    static constexpr std::uint32_t kRecordSize = 1024;
    static constexpr std::uint32_t kSector = 512;
    static constexpr std::uint64_t kMftCluster = 16;
    static constexpr std::uint32_t kMftRecords = 64;

    struct Record {
        std::vector<std::byte> bytes = std::vector<std::byte>(kRecordSize);
        std::size_t next = 56;  // where the next attribute goes
        std::uint16_t id = 0;
    };

    explicit NtfsBuilder(std::uint32_t clusters = 4096) : volume(std::size_t{clusters} * kSector) {
        auto& b = volume;
        const std::uint8_t jump[] = {0xEB, 0x52, 0x90};
        std::memcpy(b.data(), jump, 3);
        std::memcpy(b.data() + 3, "NTFS    ", 8);
        put16(b, 11, kSector);
        b[13] = std::byte{1};  // sectors per cluster
        b[21] = std::byte{0xF8};
        put64(b, 40, clusters - 1);
        put64(b, 48, kMftCluster);
        put64(b, 56, 2);
        b[64] = std::byte{0xF6};  // 2^10-byte records
        b[68] = std::byte{0x01};
        put16(b, 510, 0xAA55);
        // $MFT itself: its data is the table, one run.
        auto& mft = record(0, 0x0001);
        standardInformation(mft, 0);
        fileName(mft, 5, u"$MFT", 3);
        std::vector<std::byte> runs{std::byte{0x11}, std::byte{kMftRecords * 2}, std::byte{kMftCluster}, std::byte{0}};
        nonResidentData(mft, runs, std::uint64_t{kMftRecords} * kRecordSize);
        auto& root = record(5, 0x0003);
        standardInformation(root, 0);
        fileName(root, 5, u".", 3);
    }

    Record& record(std::uint32_t n, std::uint16_t flags) {
        Record& r = records[n];
        r = Record{};
        std::memcpy(r.bytes.data(), "FILE", 4);
        put16(r.bytes, 4, 48);  // update sequence at 48, 1 + 2 strides
        put16(r.bytes, 6, 3);
        put16(r.bytes, 16, 1);  // sequence
        put16(r.bytes, 20, 56);
        put16(r.bytes, 22, flags);
        put32(r.bytes, 28, kRecordSize);
        put32(r.bytes, 44, n);
        return r;
    }

    // A raw attribute: header fields, then `body` from offset 16 on.
    std::size_t attribute(Record& r, std::uint32_t type, std::vector<std::byte> body, bool nonResident = false) {
        const std::size_t length = (16 + body.size() + 7) / 8 * 8;
        const std::size_t at = r.next;
        put32(r.bytes, at, type);
        put32(r.bytes, at + 4, static_cast<std::uint32_t>(length));
        r.bytes[at + 8] = std::byte{nonResident ? std::uint8_t{1} : std::uint8_t{0}};
        put16(r.bytes, at + 14, r.id++);
        std::memcpy(r.bytes.data() + at + 16, body.data(), body.size());
        r.next += length;
        return at;
    }

    std::size_t resident(Record& r, std::uint32_t type, const std::vector<std::byte>& value) {
        std::vector<std::byte> body(8 + value.size());
        put32(body, 0, static_cast<std::uint32_t>(value.size()));
        put16(body, 4, 24);
        std::memcpy(body.data() + 8, value.data(), value.size());
        return attribute(r, type, body);
    }

    void standardInformation(Record& r, std::uint64_t modified, std::uint32_t attributes = 0) {
        std::vector<std::byte> v(48);
        put64(v, 0, modified);
        put64(v, 8, modified);
        put64(v, 16, modified);
        put64(v, 24, modified);
        put32(v, 32, attributes);
        resident(r, 0x10, v);
    }

    std::size_t fileName(Record& r, std::uint64_t parent, const std::u16string& name, std::uint8_t nameSpace,
                         std::uint16_t parentSequence = 1) {
        std::vector<std::byte> v(66 + 2 * name.size());
        put64(v, 0, parent | (std::uint64_t{parentSequence} << 48));
        v[64] = static_cast<std::byte>(name.size());
        v[65] = std::byte{nameSpace};
        for (std::size_t i = 0; i < name.size(); ++i) put16(v, 66 + 2 * i, name[i]);
        return resident(r, 0x30, v);
    }

    void residentData(Record& r, const std::string& content) {
        resident(r, 0x80, std::vector<std::byte>(reinterpret_cast<const std::byte*>(content.data()),
                                                 reinterpret_cast<const std::byte*>(content.data()) + content.size()));
    }

    // A non-resident unnamed $DATA with the given run-list bytes.
    std::size_t nonResidentData(Record& r, const std::vector<std::byte>& runs, std::uint64_t realSize,
                                std::uint16_t flags = 0) {
        std::vector<std::byte> body(48 + runs.size() + 1);
        put64(body, 8, (realSize + 511) / 512);  // last VCN (roughly)
        put16(body, 16, 64);                     // runs at 64
        put64(body, 24, (realSize + 511) / 512 * 512);
        put64(body, 32, realSize);
        put64(body, 40, realSize);
        std::memcpy(body.data() + 48, runs.data(), runs.size());
        const std::size_t at = attribute(r, 0x80, body, true);
        put16(r.bytes, at + 12, flags);
        return at;
    }

    // Writes the records (with end markers and fix-ups) into the table.
    std::vector<std::byte> finish() {
        for (auto& [n, r] : records) {
            std::vector<std::byte> rec = r.bytes;
            put32(rec, r.next, 0xFFFFFFFF);
            put32(rec, 24, static_cast<std::uint32_t>(r.next + 8));
            put16(rec, 48, 0x0007);  // the sequence number every stride ends with
            for (int i = 1; i <= 2; ++i) {
                std::memcpy(rec.data() + 48 + 2 * i, rec.data() + i * 512 - 2, 2);
                put16(rec, i * 512 - 2, 0x0007);
            }
            std::memcpy(volume.data() + RecordOffset(n), rec.data(), kRecordSize);
        }
        return volume;
    }

    static std::size_t RecordOffset(std::uint32_t n) { return kMftCluster * kSector + std::size_t{n} * kRecordSize; }

    std::vector<std::byte> volume;
    std::map<std::uint32_t, Record> records;

private:
    static void put16(std::vector<std::byte>& b, std::size_t at, std::uint16_t v) { (void)storage::putLe16(b, at, v); }
    static void put32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) { (void)storage::putLe32(b, at, v); }
    static void put64(std::vector<std::byte>& b, std::size_t at, std::uint64_t v) { (void)storage::putLe64(b, at, v); }
};

}  // namespace brenvale::test
