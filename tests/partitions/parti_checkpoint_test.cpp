// The partition-scan checkpoint file: what is saved comes back, the bytes sit where the format
// puts them, old files still load, and damaged or hostile files are refused without harm.
#include "partitions/parti_checkpoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "storage/boot_sectors.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"
#include "storage/gpt_types.h"
#include "storage/le.h"
#include "support/temp_dir.h"

namespace brenvale::partitions {
namespace {

using Bytes = std::span<const std::byte>;

void Put16(std::span<std::byte> b, std::size_t off, std::uint16_t v) {
    ASSERT_TRUE(storage::putLe16(b, off, v));
}
void Put32(std::span<std::byte> b, std::size_t off, std::uint32_t v) {
    ASSERT_TRUE(storage::putLe32(b, off, v));
}
void Put64(std::span<std::byte> b, std::size_t off, std::uint64_t v) {
    ASSERT_TRUE(storage::putLe64(b, off, v));
}
void PutText(std::span<std::byte> b, std::size_t off, std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) b[off + i] = static_cast<std::byte>(s[i]);
}

// A FAT16 volume of 40000 sectors: 4 sectors a cluster, 2 FATs of 40 sectors, 512 root entries.
storage::TBootSector Fat16Boot() {
    std::array<std::byte, 512> s{};
    s[0] = std::byte{0xEB}, s[1] = std::byte{0x3C}, s[2] = std::byte{0x90};
    PutText(s, 3, "MSDOS5.0");
    Put16(s, 11, 512);
    s[13] = std::byte{4};
    Put16(s, 14, 1);
    s[16] = std::byte{2};
    Put16(s, 17, 512);
    s[21] = std::byte{0xF8};
    Put16(s, 22, 40);
    Put32(s, 32, 40000);
    s[38] = std::byte{0x29};
    Put32(s, 39, 0x1234ABCD);
    PutText(s, 43, "NO NAME    FAT16   ");
    Put16(s, 510, 0xAA55);
    return storage::MakeBootSector(s);
}

// An NTFS volume of 204800 sectors, 8 sectors a cluster.
storage::TBootSector NtfsBoot() {
    std::array<std::byte, 512> s{};
    s[0] = std::byte{0xEB}, s[1] = std::byte{0x52}, s[2] = std::byte{0x90};
    PutText(s, 3, "NTFS    ");
    Put16(s, 11, 512);
    s[13] = std::byte{8};
    s[21] = std::byte{0xF8};
    Put16(s, 24, 63);
    Put16(s, 26, 255);
    Put32(s, 28, 2048);
    Put64(s, 40, 204799);
    Put64(s, 48, 4);
    Put64(s, 56, 12799);
    Put32(s, 64, 0xF6);
    Put32(s, 68, 1);
    Put64(s, 72, 0x0102030405060708);
    Put16(s, 510, 0xAA55);
    return storage::MakeBootSector(s);
}

TPartition LostRecord(const storage::TBootSector& boot, std::uint8_t systemFlag, std::int64_t lba,
                      std::uint32_t sectors, std::string label = {}) {
    TPartition p;
    p.VolLabel = std::move(label);
    p.Entry.SystemFlag = systemFlag;
    p.Entry.SectNum = static_cast<std::uint32_t>(lba);
    p.Entry.SectCount = sectors;
    p.SectNum64 = lba;
    p.BootSector = boot;
    p.BytesPerSector = 512;
    return p;
}

TPartition Fat16Record(std::int64_t lba, std::string label = {}) {
    return LostRecord(Fat16Boot(), 0x06, lba, 40000, std::move(label));
}
TPartition NtfsRecord(std::int64_t lba, std::string label = {}) {
    return LostRecord(NtfsBoot(), 0x07, lba, 204799, std::move(label));
}

// Packed fields are compared as bytes: binding them to references would be misaligned.
template <class T>
std::vector<std::byte> BytesOf(const T& rec) {
    const auto b = storage::recordBytes(rec);
    return {b.begin(), b.end()};
}

void ExpectStoredFieldsEqual(const TPartition& got, const TPartition& want) {
    EXPECT_EQ(got.DriveLetter, want.DriveLetter);
    EXPECT_EQ(got.VolLabel, want.VolLabel);
    EXPECT_EQ(BytesOf(got.Entry), BytesOf(want.Entry));
    EXPECT_EQ(got.BaseLBA, want.BaseLBA);
    EXPECT_EQ(BytesOf(got.BootSector), BytesOf(want.BootSector));
    EXPECT_EQ(got.BytesPerSector, want.BytesPerSector);
    EXPECT_EQ(got.Attributes, want.Attributes);
    EXPECT_EQ(got.GptTypeGuid, want.GptTypeGuid);
    EXPECT_EQ(got.SectCount64, want.SectCount64);
    EXPECT_EQ(got.SectNum64, want.SectNum64);
    EXPECT_EQ(got.Primary, want.Primary);
    EXPECT_EQ(got.Active, want.Active);
    // Not stored: a loaded record starts without them.
    EXPECT_TRUE(got.Children.empty());
    EXPECT_EQ(got.Parent, nullptr);
    EXPECT_EQ(got.ClaimedSectCount, 0);
    EXPECT_TRUE(got.VolumePath.empty());
}

void ExpectHeaderEqual(const TPartiCheckpointData& got, const TPartiCheckpointData& want) {
    EXPECT_EQ(got.SourceType, want.SourceType);
    EXPECT_EQ(got.SourceId, want.SourceId);
    EXPECT_EQ(got.DeviceNum, want.DeviceNum);
    EXPECT_EQ(got.PartiStartLBA, want.PartiStartLBA);
    EXPECT_EQ(got.FS, want.FS);
    EXPECT_EQ(got.LBA, want.LBA);
    EXPECT_EQ(got.Blocks, want.Blocks);
    EXPECT_EQ(got.CurrLBA, want.CurrLBA);
    EXPECT_EQ(got.RefFrame, want.RefFrame);
    EXPECT_EQ(got.RefPartiStart, want.RefPartiStart);
    EXPECT_EQ(got.LastPrint, want.LastPrint);
}

// Something other than what any load produces, to show a failed load leaves nothing behind.
TPartiCheckpointData Stale() {
    TPartiCheckpointData d;
    d.SourceId = "stale";
    d.CurrLBA = 99;
    d.RefFrame = 1;
    d.LastPrint = 0xDEAD;
    d.Partitions.push_back(Fat16Record(7));
    return d;
}

// Writes the file format independently of the code under test.
class FileBuilder {
public:
    FileBuilder& u8(std::uint8_t v) { return bytes({static_cast<std::byte>(v)}); }
    FileBuilder& u16(std::uint16_t v) { return le(v, 2); }
    FileBuilder& u32(std::uint32_t v) { return le(v, 4); }
    FileBuilder& u64(std::uint64_t v) { return le(v, 8); }
    FileBuilder& text(std::string_view s) {
        for (char c : s) data.push_back(static_cast<std::byte>(c));
        return *this;
    }
    FileBuilder& string(std::string_view s) {
        return u32(static_cast<std::uint32_t>(s.size())).text(s);
    }
    FileBuilder& bytes(Bytes b) {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    FileBuilder& bytes(std::initializer_list<std::byte> b) {
        return bytes(Bytes(b.begin(), b.size()));
    }

    // Everything up to and including the record count.
    FileBuilder& header(std::uint32_t version, const TPartiCheckpointData& d, std::uint32_t count) {
        text("QVPCP001").u32(version).u8(d.SourceType).string(d.SourceId).u8(d.DeviceNum);
        u64(static_cast<std::uint64_t>(d.PartiStartLBA)).u8(d.FS);
        u64(static_cast<std::uint64_t>(d.LBA)).u64(static_cast<std::uint64_t>(d.Blocks));
        u64(static_cast<std::uint64_t>(d.CurrLBA));
        if (version >= 2) u8(d.RefFrame).u64(static_cast<std::uint64_t>(d.RefPartiStart));
        if (version >= 3) u8(d.LastPrint ? 1 : 0).u32(d.LastPrint.value_or(0));
        return u32(count);
    }

    FileBuilder& record(const TPartition& p) {
        u16(static_cast<std::uint16_t>(p.DriveLetter)).string(p.VolLabel);
        bytes(storage::recordBytes(p.Entry)).u64(static_cast<std::uint64_t>(p.BaseLBA));
        bytes(storage::recordBytes(p.BootSector)).u32(p.BytesPerSector).u64(p.Attributes);
        bytes(std::as_bytes(std::span(p.GptTypeGuid.bytes)));
        u64(static_cast<std::uint64_t>(p.SectCount64)).u64(static_cast<std::uint64_t>(p.SectNum64));
        return u8(p.Primary ? 1 : 0).u8(p.Active ? 1 : 0);
    }

    std::vector<std::byte> data;

private:
    FileBuilder& le(std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i, v >>= 8) data.push_back(static_cast<std::byte>(v & 0xFF));
        return *this;
    }
};

TPartiCheckpointData ImageScan() {
    TPartiCheckpointData d;
    d.SourceType = 2;
    d.SourceId = "/media/backup/caf\xC3\xA9 disk.dif";
    d.DeviceNum = 0x81;
    d.PartiStartLBA = 0;
    d.FS = 0;
    d.LBA = 2048;
    d.Blocks = 1'000'000'000'000;  // past 32 bits
    d.CurrLBA = 123'456'789'012;
    d.RefFrame = 1;
    d.RefPartiStart = 2048;
    return d;
}

// A GPT-listed NTFS record with everything a lost record leaves at zero set, and the fields
// that are not stored filled in.
TPartition GptRecord(TPartition* child) {
    TPartition p = NtfsRecord(0x2'0000'0800,
                              "Donn\xC3\xA9"
                              "es \xCE\xA9 \xE6\x95\xB0\xE6\x8D\xAE");
    p.DriveLetter = u'E';
    p.Entry.PartiActive = 0x80;
    p.Entry.Header0 = 0x20;
    p.Entry.SectCylin0 = 0x2101;
    p.Entry.SystemFlag = 0xEE;
    p.Entry.Header1 = 0xFE;
    p.Entry.SectCylin1 = 0xFFFF;
    p.BaseLBA = 0x1'0000'0022;  // past 32 bits
    p.Attributes = (std::uint64_t{1} << 63) | (std::uint64_t{1} << 62) | 1;
    p.GptTypeGuid = storage::Guid::parse("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7").value();
    p.SectCount64 = 0x1'2345'6789;
    p.Primary = true;
    p.Active = false;
    p.ClaimedSectCount = 0x2'0000'0000;
    p.VolumePath = "/mnt/data";
    p.Children.push_back(child);
    p.Parent = child;
    return p;
}

TPartition ActiveRecord(TPartition p) {
    p.Active = true;
    return p;
}

TEST(PartiCheckpoint, FixtureBootSectorsAreRealVolumes) {
    const std::uint8_t fat = Fat16Boot().FileSystemType, ntfs = NtfsBoot().FileSystemType;
    EXPECT_EQ(fat, storage::kFsFat16);
    EXPECT_EQ(ntfs, storage::kFsNtfs);
}

TEST(PartiCheckpoint, RoundTrip) {
    TPartition spare = Fat16Record(1);
    struct Case {
        const char* name;
        std::vector<TPartition> partitions;
        std::string sourceId;
    };
    const std::vector<Case> cases = {
        {"no records, no source id", {}, ""},
        {"one record", {ActiveRecord(Fat16Record(63, "SYSTEM"))}, "/img/a.dif"},
        {"several records",
         {Fat16Record(2048), GptRecord(&spare), NtfsRecord(409600, "x"),
          Fat16Record(0x7FFF'FFFF'0000)},
         "/media/backup/caf\xC3\xA9 disk.dif"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        TPartiCheckpointData saved = ImageScan();
        saved.SourceId = c.sourceId;
        saved.Partitions = c.partitions;
        if (!c.partitions.empty()) saved.LastPrint = 0x5EC0'0000u + static_cast<std::uint32_t>(c.partitions.size());
        const std::string file = dir.file("parti_scan.prc");
        ASSERT_TRUE(SavePartiCheckpoint(file, saved));

        TPartiCheckpointData loaded = Stale();
        ASSERT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointLoaded);
        ExpectHeaderEqual(loaded, saved);
        ASSERT_EQ(loaded.Partitions.size(), c.partitions.size());
        for (std::size_t i = 0; i < c.partitions.size(); ++i) {
            SCOPED_TRACE(i);
            ExpectStoredFieldsEqual(loaded.Partitions[i], c.partitions[i]);
        }
        // Nothing but the checkpoint is left in the folder.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

TEST(PartiCheckpoint, SavedBytesSitAtTheirOffsets) {
    test::TempDir dir;
    TPartiCheckpointData d = ImageScan();
    d.SourceId = "/img/disk.dif";
    TPartition labelled = GptRecord(nullptr);
    labelled.VolLabel = "Ab";
    labelled.Children.clear();
    d.Partitions = {labelled, Fat16Record(4096)};
    d.LastPrint = 0x1A2B3C4D;
    const std::string file = dir.file("c.prc");
    ASSERT_TRUE(SavePartiCheckpoint(file, d));
    const auto bytes = test::ReadWholeFile(file);
    const Bytes b(bytes);

    const std::size_t n = d.SourceId.size(), m = labelled.VolLabel.size();
    const std::size_t r0 = 69 + n, r1 = r0 + 589 + m;
    ASSERT_EQ(bytes.size(), r1 + 589);

    const std::string magic(reinterpret_cast<const char*>(bytes.data()), 8);
    EXPECT_EQ(magic, "QVPCP001");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 17, n), d.SourceId);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + r0 + 6, m), "Ab");

    struct Field {
        const char* name;
        std::size_t offset, width;
        std::uint64_t want;
    };
    const auto u = [](std::int64_t v) { return static_cast<std::uint64_t>(v); };
    const std::uint8_t fat16Code = storage::kFsFat16, ntfsCode = storage::kFsNtfs;
    const Field fields[] = {
        {"version", 8, 4, 3},
        {"SourceType", 12, 1, d.SourceType},
        {"n", 13, 4, n},
        {"DeviceNum", 17 + n, 1, d.DeviceNum},
        {"PartiStartLBA", 18 + n, 8, u(d.PartiStartLBA)},
        {"FS", 26 + n, 1, d.FS},
        {"LBA", 27 + n, 8, u(d.LBA)},
        {"Blocks", 35 + n, 8, u(d.Blocks)},
        {"CurrLBA", 43 + n, 8, u(d.CurrLBA)},
        {"RefFrame", 51 + n, 1, d.RefFrame},
        {"RefPartiStart", 52 + n, 8, u(d.RefPartiStart)},
        {"LastPrint known", 60 + n, 1, 1},
        {"LastPrint", 61 + n, 4, 0x1A2B3C4D},
        {"k", 65 + n, 4, 2},
        {"DriveLetter", r0 + 0, 2, u'E'},
        {"m", r0 + 2, 4, m},
        {"Entry.PartiActive", r0 + 6 + m, 1, 0x80},
        {"Entry.SectCylin0", r0 + 6 + m + 2, 2, 0x2101},
        {"Entry.SystemFlag", r0 + 6 + m + 4, 1, 0xEE},
        {"Entry.SectNum", r0 + 6 + m + 8, 4, 0x0800},
        {"Entry.SectCount", r0 + 6 + m + 12, 4, 204799},
        {"BaseLBA", r0 + 22 + m, 8, 0x1'0000'0022},
        {"BootSector code", r0 + 30 + m, 1, ntfsCode},
        {"BootSector OEM", r0 + 31 + m + 3, 4, 0x5346544E},  // "NTFS"
        {"BootSector signature", r0 + 31 + m + 510, 2, 0xAA55},
        {"BytesPerSector", r0 + 543 + m, 4, 512},
        {"Attributes", r0 + 547 + m, 8, labelled.Attributes},
        {"GptTypeGuid first bytes", r0 + 555 + m, 4, 0xEBD0A0A2},
        {"GptTypeGuid last bytes", r0 + 563 + m, 8, 0xC79926B7B668C087},
        {"SectCount64", r0 + 571 + m, 8, 0x1'2345'6789},
        {"SectNum64", r0 + 579 + m, 8, 0x2'0000'0800},
        {"Primary", r0 + 587 + m, 1, 1},
        {"Active", r0 + 588 + m, 1, 0},
        {"second m", r1 + 2, 4, 0},
        {"second BootSector code", r1 + 30, 1, fat16Code},
        {"second SectNum64", r1 + 579, 8, 4096},
        {"second Primary", r1 + 587, 1, 0},
        {"second Active", r1 + 588, 1, 0},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(storage::fits(b, f.offset, f.width));
        std::uint64_t got = 0;
        for (std::size_t i = f.width; i-- > 0;)
            got = (got << 8) | std::to_integer<std::uint64_t>(b[f.offset + i]);
        EXPECT_EQ(got, f.want);
    }
    const auto sector = labelled.BootSector.Sector;
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(),
                           b.begin() + static_cast<std::ptrdiff_t>(r0 + 31 + m)));
    EXPECT_TRUE(std::equal(labelled.GptTypeGuid.bytes.begin(), labelled.GptTypeGuid.bytes.end(),
                           bytes.begin() + static_cast<std::ptrdiff_t>(r0 + 555 + m),
                           [](std::uint8_t x, std::byte y) { return std::byte{x} == y; }));
}

TEST(PartiCheckpoint, SaveReplacesAnOlderFileWhole) {
    test::TempDir dir;
    const std::string file = dir.file("parti_scan.prc");
    test::WriteWholeFile(file, std::vector<std::byte>(10000, std::byte{0x5A}));
    TPartiCheckpointData d = ImageScan();
    d.SourceId.clear();
    d.Partitions = {Fat16Record(100)};
    ASSERT_TRUE(SavePartiCheckpoint(file, d));
    EXPECT_EQ(std::filesystem::file_size(file), 69u + 589u);
    TPartiCheckpointData loaded;
    EXPECT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointLoaded);
    EXPECT_EQ(loaded.Partitions.size(), 1u);
}

TEST(PartiCheckpoint, SaveFailuresReturnFalseAndLeaveNoTemporaryFile) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "taken");
    TPartiCheckpointData d = ImageScan();
    d.Partitions = {Fat16Record(100)};
    const struct {
        const char* name;
        std::string file;
    } cases[] = {
        {"folder does not exist", dir.file("missing/parti_scan.prc")},
        {"target is a folder", dir.file("taken")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(SavePartiCheckpoint(c.file, d));
        EXPECT_FALSE(std::filesystem::exists(c.file + ".tmp"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "taken"));
}

TEST(PartiCheckpoint, VersionOneHasNoReferenceFields) {
    test::TempDir dir;
    TPartiCheckpointData want;
    want.SourceType = 0;
    want.DeviceNum = 0x80;
    want.LBA = 100;
    want.Blocks = 5000;
    want.CurrLBA = 3000;
    const TPartition rec = Fat16Record(2100, "old");
    FileBuilder f;
    f.header(1, want, 1).record(rec);
    ASSERT_EQ(f.data.size(), 55u + 589u + 3u);  // k sits at 51 when there are no reference fields
    const std::string file = dir.file("v1.prc");
    test::WriteWholeFile(file, f.data);

    TPartiCheckpointData loaded = Stale();
    ASSERT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointLoaded);
    ExpectHeaderEqual(loaded, want);
    EXPECT_EQ(loaded.RefFrame, 0);
    EXPECT_EQ(loaded.RefPartiStart, 0);
    ASSERT_EQ(loaded.Partitions.size(), 1u);
    ExpectStoredFieldsEqual(loaded.Partitions[0], rec);

    // The same layout under version 0 is no checkpoint.
    Put32(f.data, 8, 0);
    test::WriteWholeFile(file, f.data);
    EXPECT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointInvalid);
}

// Version 2 has no fingerprint (the search looks it up again); version 3 says whether it has one.
TEST(PartiCheckpoint, FingerprintByVersion) {
    test::TempDir dir;
    TPartiCheckpointData d = ImageScan();
    d.LastPrint = 0xCAFE0001;
    const struct {
        const char* name;
        std::uint32_t version;
        std::optional<std::uint32_t> print;
        int want;
    } cases[] = {
        {"version 2", 2, std::nullopt, kPartiCheckpointLoaded},
        {"version 3 with a fingerprint", 3, 0xCAFE0001, kPartiCheckpointLoaded},
        {"version 3 without one", 3, std::nullopt, kPartiCheckpointLoaded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPartiCheckpointData written = d;
        written.LastPrint = c.print;
        FileBuilder f;
        f.header(c.version, written, 1).record(Fat16Record(2048));
        const std::string file = dir.file("f.prc");
        test::WriteWholeFile(file, f.data);
        TPartiCheckpointData loaded = Stale();
        ASSERT_EQ(LoadPartiCheckpoint(file, loaded), c.want);
        EXPECT_EQ(loaded.LastPrint, c.print);
        EXPECT_EQ(loaded.Partitions.size(), 1u);
    }
    // The flag byte is 0 or 1; anything else is damage.
    FileBuilder f;
    f.header(3, d, 0);
    f.data[60 + d.SourceId.size()] = std::byte{2};
    const std::string file = dir.file("bad.prc");
    test::WriteWholeFile(file, f.data);
    TPartiCheckpointData loaded;
    EXPECT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointInvalid);
}

TEST(PartiCheckpoint, DamagedFilesAreInvalid) {
    // A valid file: header of 64 + 7 bytes, one record with a 100-byte label (689 bytes).
    TPartiCheckpointData d = ImageScan();
    d.SourceId = "img.dif";
    FileBuilder f;
    f.header(2, d, 1).record(Fat16Record(2048, std::string(100, 'L')));
    const std::vector<std::byte> valid = f.data;
    constexpr std::size_t kHeader = 71, kCount = 67, kLabelLength = kHeader + 2;
    ASSERT_EQ(valid.size(), kHeader + 689);

    using Mutate = std::function<void(std::vector<std::byte>&)>;
    const auto cut = [](std::size_t size) {
        return [size](std::vector<std::byte>& b) { b.resize(size); };
    };
    const auto set32 = [](std::size_t off, std::uint32_t v) {
        return [off, v](std::vector<std::byte>& b) { Put32(b, off, v); };
    };
    const struct {
        const char* name;
        Mutate mutate;
    } cases[] = {
        {"empty", cut(0)},
        {"magic only", cut(8)},
        {"wrong magic", [](std::vector<std::byte>& b) { b[7] = std::byte{'2'}; }},
        {"version 0", set32(8, 0)},
        {"version 4", set32(8, 4)},
        {"header cut short", cut(40)},
        {"record count cut short", cut(kCount + 2)},
        {"count claims more records than the file holds", set32(kCount, 2)},
        {"count of 2^32 - 1", set32(kCount, 0xFFFFFFFF)},
        {"SourceId longer than the file", set32(13, 0xFFFFFFF0)},
        {"SourceId one byte past the end",
         set32(13, static_cast<std::uint32_t>(valid.size() - 17 + 1))},
        {"label longer than the file", set32(kLabelLength, 0xFFFFFFFF)},
        {"label one byte longer than stored", set32(kLabelLength, 101)},
        {"record cut in half", cut(kHeader + 345)},
        {"record cut past its fixed size", cut(kHeader + 600)},
        {"last byte missing", cut(valid.size() - 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::vector<std::byte> bytes = valid;
        c.mutate(bytes);
        const std::string file = dir.file("parti_scan.prc");
        test::WriteWholeFile(file, bytes);
        TPartiCheckpointData loaded = Stale();
        EXPECT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointInvalid);
        EXPECT_TRUE(loaded.SourceId.empty());
        EXPECT_TRUE(loaded.Partitions.empty());
    }
    // The unmutated file is the control: it loads.
    test::TempDir dir;
    test::WriteWholeFile(dir.file("ok.prc"), valid);
    TPartiCheckpointData loaded;
    EXPECT_EQ(LoadPartiCheckpoint(dir.file("ok.prc"), loaded), kPartiCheckpointLoaded);
    EXPECT_EQ(loaded.Partitions.size(), 1u);
}

TEST(PartiCheckpoint, MissingUnreadableAndOversizedFiles) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "folder");
    // A sparse file just past the size limit, valid up to its trailing zeros.
    const std::string big = dir.file("big.prc");
    FileBuilder f;
    f.header(2, ImageScan(), 0);
    test::WriteWholeFile(big, f.data);
    std::filesystem::resize_file(big, kMaxPartiCheckpointBytes + 1);

    const struct {
        const char* name;
        std::string file;
        int want;
    } cases[] = {
        {"missing", dir.file("none.prc"), kPartiCheckpointMissing},
        {"missing folder", dir.file("none/parti_scan.prc"), kPartiCheckpointMissing},
        {"a folder", dir.file("folder"), kPartiCheckpointInvalid},
        {"larger than any checkpoint", big, kPartiCheckpointInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPartiCheckpointData loaded = Stale();
        EXPECT_EQ(LoadPartiCheckpoint(c.file, loaded), c.want);
        EXPECT_TRUE(loaded.Partitions.empty());
        EXPECT_EQ(loaded.CurrLBA, 0);
    }
}

TEST(PartiCheckpoint, ImplausibleRecordsAreDropped) {
    const struct {
        const char* name;
        std::function<void(TPartition&)> spoil;
    } cases[] = {
        {"all-zero boot sector",
         [](TPartition& p) {
             p.BootSector = storage::TBootSector{0, {}};
         }},
        {"unknown file-system code",
         [](TPartition& p) { p.BootSector.FileSystemType = storage::kFsUnknown; }},
        {"record sector size 8192", [](TPartition& p) { p.BytesPerSector = 8192; }},
        {"NTFS OEM name changed", [](TPartition& p) { p.BootSector.Sector[6] = std::byte{'X'}; }},
        {"FAT16 without FATs",
         [](TPartition& p) {
             p.BootSector = Fat16Boot();
             p.BootSector.Sector[16] = std::byte{0};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        TPartiCheckpointData d = ImageScan();
        TPartition bad = NtfsRecord(5000);
        c.spoil(bad);
        d.Partitions = {Fat16Record(1000, "kept"), bad, NtfsRecord(9000)};
        const std::string file = dir.file("parti_scan.prc");
        ASSERT_TRUE(SavePartiCheckpoint(file, d));
        TPartiCheckpointData loaded;
        ASSERT_EQ(LoadPartiCheckpoint(file, loaded), kPartiCheckpointLoaded);
        ASSERT_EQ(loaded.Partitions.size(), 2u);
        EXPECT_EQ(loaded.Partitions[0].SectNum64, 1000);
        EXPECT_EQ(loaded.Partitions[0].VolLabel, "kept");
        EXPECT_EQ(loaded.Partitions[1].SectNum64, 9000);
        EXPECT_EQ(loaded.CurrLBA, d.CurrLBA);
    }
}

TEST(PartiCheckpoint, FreeEmptiesThePartitionList) {
    TPartiCheckpointData d = ImageScan();
    d.Partitions = {Fat16Record(1), NtfsRecord(2)};
    FreePartiCheckpoint(d);
    EXPECT_TRUE(d.Partitions.empty());
    EXPECT_EQ(d.CurrLBA, ImageScan().CurrLBA);
}

TEST(PartiCheckpoint, PathIsConfiguredOrInTheDataFolder) {
    const struct {
        std::string configured, dataDir, want;
    } cases[] = {
        {"", "/home/u/.config/brenvale", "/home/u/.config/brenvale/parti_scan.prc"},
        {"/tmp/scan.prc", "/home/u/.config/brenvale", "/tmp/scan.prc"},
        {"relative.prc", "/opt/brenvale/data", "relative.prc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PartiCheckpointPath(c.configured, c.dataDir), c.want) << c.configured;
}

}  // namespace
}  // namespace brenvale::partitions
