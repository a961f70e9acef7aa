#pragma once
// Tiny FAT12, FAT16, FAT32 and exFAT volumes written byte by byte for the scan tests: a boot
// sector the detection accepts, a FAT to set entries in, and 32-byte folder entries placed in
// the fixed root or in a folder's clusters.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brenvale::test {

using RawEntry = std::array<std::byte, 32>;

// ---- FAT folder entries

// An 8.3 entry; `name` is "NAME.EXT", "NAME", "." or "..". The cluster's high word goes to
// offset 20, which only FAT32 reads.
RawEntry ShortEntry(std::string_view name, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size,
                    std::uint8_t caseByte = 0);
RawEntry FileEntry(std::string_view name, std::uint32_t cluster, std::uint32_t size);
RawEntry FolderEntry(std::string_view name, std::uint32_t cluster);
// "<prefix>00.TXT", "<prefix>01.TXT", ...: file i of a numbered run.
std::string NumberedName(char prefix, std::size_t i);
// Files NumberedName(prefix, first) onward, each with a cluster of its own and one byte.
std::vector<RawEntry> NumberedFiles(char prefix, std::size_t first, std::size_t n);
// The entry with its first byte replaced by the deleted mark.
RawEntry Deleted(RawEntry e);
// The checksum long-name entries carry of their 8.3 entry's name.
std::uint8_t LongNameChecksum(const RawEntry& shortEntry);
// Long-name entries for `name` in on-disk order: the last part first, flagged 0x40.
std::vector<RawEntry> LongNameEntries(std::u16string_view name, std::uint8_t checksum);

// ---- exFAT entry sets

struct ExfatFile {
    std::u16string name;
    bool folder = false;
    std::uint32_t cluster = 0;
    std::uint64_t length = 0;
    bool noFatChain = false;
    bool deleted = false;
};
// File, stream and name entries; the secondary count covers the stream and every name entry.
std::vector<RawEntry> ExfatEntries(const ExfatFile& f);
// A volume label entry (0x83, or 0x03 when not in use).
RawEntry ExfatLabel(std::u16string_view text, bool inUse = true);

// ---- Volumes

enum class Fs { Fat12, Fat16, Fat32, Exfat };
std::string FsName(Fs fs);

// 512-byte sectors and one-sector clusters. FAT12 has 1000 clusters, FAT16 4200, FAT32 66000
// (the fewest its detection accepts, and room for clusters above 65535), exFAT 256. FAT12/16
// have a fixed root of 64 entries; FAT32 and exFAT a root at cluster 2.
class VolumeBuilder {
public:
    static constexpr std::uint32_t kSectorBytes = 512;
    static constexpr std::uint32_t kRootEntries = 64;

    explicit VolumeBuilder(Fs fs);

    Fs fs() const { return fs_; }
    std::uint32_t clusterCount() const { return clusters_; }
    // The root folder's first cluster; 0 names the fixed root of FAT12/16.
    std::uint32_t root() const { return root_; }
    std::uint32_t endOfChain() const;
    std::size_t entriesPerCluster() const { return kSectorBytes / 32; }

    void setFat(std::uint32_t n, std::uint32_t value);
    std::uint32_t fat(std::uint32_t n) const;
    // Links the clusters in the order given and ends the chain at the last.
    void chain(std::initializer_list<std::uint32_t> clusters);

    std::span<std::byte> bootSector() { return std::span(data_).first(kSectorBytes); }
    std::span<std::byte> cluster(std::uint32_t c);
    std::uint64_t clusterSector(std::uint32_t c) const { return firstData_ + c - 2; }
    // Writes entries from slot `slot` of the folder whose first cluster is `folder` (0: the
    // fixed root), following the FAT from cluster to cluster. Returns the slot after the last.
    std::size_t put(std::uint32_t folder, std::size_t slot, const std::vector<RawEntry>& entries);
    // A FAT folder at cluster c: "." and ".." first, and an end of chain unless one is set.
    void makeFolder(std::uint32_t c, std::uint32_t parent);

    std::vector<std::byte>& bytes() { return data_; }

private:
    std::span<std::byte> slot(std::uint32_t folder, std::size_t index);
    void fatBoot();
    void exfatBoot();

    Fs fs_;
    std::uint32_t clusters_ = 0;
    std::uint32_t root_ = 0;
    std::uint32_t reserved_ = 0, fatSectors_ = 0, fats_ = 0, rootSectors_ = 0;
    std::uint64_t firstData_ = 0, total_ = 0;
    std::vector<std::byte> data_;
};

// Entries placed into a raw area (a cluster's bytes) from `slot` on.
void WriteEntries(std::span<std::byte> area, std::size_t slot, const std::vector<RawEntry>& entries);

}  // namespace brenvale::test
