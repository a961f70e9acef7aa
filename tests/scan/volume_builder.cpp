#include "scan/volume_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "storage/le.h"

namespace brenvale::test {

namespace {

void put16(std::span<std::byte> d, std::size_t off, std::uint16_t v) {
    if (!storage::putLe16(d, off, v)) ADD_FAILURE() << "16-bit write outside the buffer at " << off;
}
void put32(std::span<std::byte> d, std::size_t off, std::uint32_t v) {
    if (!storage::putLe32(d, off, v)) ADD_FAILURE() << "32-bit write outside the buffer at " << off;
}
void put64(std::span<std::byte> d, std::size_t off, std::uint64_t v) {
    if (!storage::putLe64(d, off, v)) ADD_FAILURE() << "64-bit write outside the buffer at " << off;
}
void putText(std::span<std::byte> d, std::size_t off, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) d[off + i] = static_cast<std::byte>(text[i]);
}

// Long-name entries hold their 13 units at these byte offsets.
constexpr std::array<std::size_t, 13> kLongNameUnitOffsets{1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

}  // namespace

RawEntry ShortEntry(std::string_view name, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size,
                    std::uint8_t caseByte) {
    RawEntry e{};
    std::string base(name), ext;
    if (name != "." && name != "..") {
        if (const auto dot = name.find('.'); dot != std::string_view::npos) {
            base = name.substr(0, dot);
            ext = name.substr(dot + 1);
        }
    }
    EXPECT_LE(base.size(), 8u) << name;
    EXPECT_LE(ext.size(), 3u) << name;
    base.resize(8, ' ');
    ext.resize(3, ' ');
    putText(e, 0, base);
    putText(e, 8, ext);
    e[11] = std::byte{attr};
    e[12] = std::byte{caseByte};
    put16(e, 20, static_cast<std::uint16_t>(cluster >> 16));
    put16(e, 26, static_cast<std::uint16_t>(cluster));
    put32(e, 28, size);
    return e;
}

RawEntry FileEntry(std::string_view name, std::uint32_t cluster, std::uint32_t size) {
    return ShortEntry(name, 0x20, cluster, size);
}

RawEntry FolderEntry(std::string_view name, std::uint32_t cluster) { return ShortEntry(name, 0x10, cluster, 0); }

std::string NumberedName(char prefix, std::size_t i) {
    return std::string(1, prefix) + char('0' + i / 10 % 10) + char('0' + i % 10) + ".TXT";
}

std::vector<RawEntry> NumberedFiles(char prefix, std::size_t first, std::size_t n) {
    std::vector<RawEntry> out;
    for (std::size_t i = first; i < first + n; ++i) {
        out.push_back(FileEntry(NumberedName(prefix, i), static_cast<std::uint32_t>(300 + i), 1));
    }
    return out;
}

RawEntry Deleted(RawEntry e) {
    e[0] = std::byte{0xE5};
    return e;
}

std::uint8_t LongNameChecksum(const RawEntry& shortEntry) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) {
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + std::to_integer<std::uint8_t>(shortEntry[i]));
    }
    return sum;
}

std::vector<RawEntry> LongNameEntries(std::u16string_view name, std::uint8_t checksum) {
    // The name ends with U+0000 unless it fills its last part; U+FFFF pads the rest.
    std::u16string units(name);
    if (units.size() % 13 != 0) units.push_back(u'\0');
    const std::size_t parts = (units.size() + 12) / 13;
    units.resize(parts * 13, u'\uFFFF');
    std::vector<RawEntry> out;
    for (std::size_t p = parts; p-- > 0;) {
        RawEntry e{};
        e[0] = std::byte{static_cast<std::uint8_t>((p + 1) | (p + 1 == parts ? 0x40 : 0))};
        e[11] = std::byte{0x0F};
        e[13] = std::byte{checksum};
        for (std::size_t i = 0; i < 13; ++i) put16(e, kLongNameUnitOffsets[i], units[p * 13 + i]);
        out.push_back(e);
    }
    return out;
}

std::vector<RawEntry> ExfatEntries(const ExfatFile& f) {
    const std::size_t nameEntries = std::max<std::size_t>(1, (f.name.size() + 14) / 15);
    const std::uint8_t inUse = f.deleted ? 0x00 : 0x80;
    std::vector<RawEntry> set(1 + 1 + nameEntries);
    set[0][0] = std::byte{static_cast<std::uint8_t>(inUse | 0x05)};
    set[0][1] = std::byte{static_cast<std::uint8_t>(1 + nameEntries)};
    put16(set[0], 4, f.folder ? 0x10 : 0x20);
    RawEntry& stream = set[1];
    stream[0] = std::byte{static_cast<std::uint8_t>(inUse | 0x40)};
    stream[1] = std::byte{static_cast<std::uint8_t>(0x01 | (f.noFatChain ? 0x02 : 0x00))};
    stream[3] = std::byte{static_cast<std::uint8_t>(std::min<std::size_t>(f.name.size(), 255))};
    put64(stream, 8, f.length);
    put32(stream, 20, f.cluster);
    put64(stream, 24, f.length);
    for (std::size_t n = 0; n < nameEntries; ++n) {
        RawEntry& e = set[2 + n];
        e[0] = std::byte{static_cast<std::uint8_t>(inUse | 0x41)};
        for (std::size_t i = 0; i < 15 && n * 15 + i < f.name.size(); ++i) put16(e, 2 + 2 * i, f.name[n * 15 + i]);
    }
    // The set checksum covers every byte but its own two.
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < set.size() * 32; ++i) {
        if (i == 2 || i == 3) continue;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) +
                                         std::to_integer<std::uint8_t>(set[i / 32][i % 32]));
    }
    put16(set[0], 2, sum);
    return set;
}

RawEntry ExfatLabel(std::u16string_view text, bool inUse) {
    RawEntry e{};
    e[0] = std::byte{static_cast<std::uint8_t>(inUse ? 0x83 : 0x03)};
    e[1] = std::byte{static_cast<std::uint8_t>(text.size())};
    for (std::size_t i = 0; i < text.size() && i < 11; ++i) put16(e, 2 + 2 * i, text[i]);
    return e;
}

std::string FsName(Fs fs) {
    switch (fs) {
        case Fs::Fat12: return "Fat12";
        case Fs::Fat16: return "Fat16";
        case Fs::Fat32: return "Fat32";
        case Fs::Exfat: return "Exfat";
    }
    return "?";
}

void WriteEntries(std::span<std::byte> area, std::size_t slot, const std::vector<RawEntry>& entries) {
    for (const RawEntry& e : entries) {
        if ((slot + 1) * 32 > area.size()) {
            ADD_FAILURE() << "entry slot " << slot << " lies outside the area";
            return;
        }
        std::copy(e.begin(), e.end(), area.begin() + static_cast<std::ptrdiff_t>(slot * 32));
        ++slot;
    }
}

VolumeBuilder::VolumeBuilder(Fs fs) : fs_(fs) {
    switch (fs) {
        case Fs::Fat12: clusters_ = 1000, reserved_ = 1, fats_ = 2, fatSectors_ = 3, rootSectors_ = 4; break;
        case Fs::Fat16: clusters_ = 4200, reserved_ = 1, fats_ = 2, fatSectors_ = 17, rootSectors_ = 4; break;
        case Fs::Fat32: clusters_ = 66000, reserved_ = 32, fats_ = 2, fatSectors_ = 516, root_ = 2; break;
        case Fs::Exfat: clusters_ = 256, reserved_ = 8, fats_ = 1, fatSectors_ = 8, root_ = 2; break;
    }
    firstData_ = reserved_ + std::uint64_t{fats_} * fatSectors_ + rootSectors_;
    total_ = firstData_ + clusters_;
    data_.resize(total_ * kSectorBytes);
    if (fs == Fs::Exfat) {
        exfatBoot();
    } else {
        fatBoot();
    }
    // The two reserved entries: the media byte, then an end of chain.
    setFat(0, fs == Fs::Exfat ? 0xFFFFFFF8u : (endOfChain() & ~0x7u) | 0x8u);
    setFat(1, endOfChain());
    if (root_ != 0) setFat(root_, endOfChain());
}

void VolumeBuilder::fatBoot() {
    auto b = bootSector();
    b[0] = std::byte{0xEB}, b[1] = std::byte{0x3C}, b[2] = std::byte{0x90};
    putText(b, 3, "MSDOS5.0");
    put16(b, 11, kSectorBytes);
    b[13] = std::byte{1};
    put16(b, 14, static_cast<std::uint16_t>(reserved_));
    b[16] = std::byte{static_cast<std::uint8_t>(fats_)};
    b[21] = std::byte{0xF8};
    if (fs_ == Fs::Fat32) {
        put32(b, 32, static_cast<std::uint32_t>(total_));
        put32(b, 36, fatSectors_);
        put32(b, 44, root_);
        b[66] = std::byte{0x29};
        putText(b, 71, "NO NAME    FAT32   ");
    } else {
        put16(b, 17, kRootEntries);
        put16(b, 19, static_cast<std::uint16_t>(total_));
        put16(b, 22, static_cast<std::uint16_t>(fatSectors_));
        b[38] = std::byte{0x29};
        putText(b, 43, fs_ == Fs::Fat12 ? "NO NAME    FAT12   " : "NO NAME    FAT16   ");
    }
    put16(b, 510, 0xAA55);
}

void VolumeBuilder::exfatBoot() {
    auto b = bootSector();
    b[0] = std::byte{0xEB}, b[1] = std::byte{0x76}, b[2] = std::byte{0x90};
    putText(b, 3, "EXFAT   ");
    put64(b, 72, total_);
    put32(b, 80, reserved_);
    put32(b, 84, fatSectors_);
    put32(b, 88, static_cast<std::uint32_t>(firstData_));
    put32(b, 92, clusters_);
    put32(b, 96, root_);
    put16(b, 104, 0x0100);
    b[108] = std::byte{9};
    b[109] = std::byte{0};
    b[110] = std::byte{1};
    put16(b, 510, 0xAA55);
}

std::uint32_t VolumeBuilder::endOfChain() const {
    switch (fs_) {
        case Fs::Fat12: return 0xFFF;
        case Fs::Fat16: return 0xFFFF;
        case Fs::Fat32: return 0x0FFFFFFF;
        case Fs::Exfat: return 0xFFFFFFFF;
    }
    return 0;
}

void VolumeBuilder::setFat(std::uint32_t n, std::uint32_t value) {
    for (std::uint32_t copy = 0; copy < fats_; ++copy) {
        const auto table = std::span(data_).subspan((reserved_ + std::size_t{copy} * fatSectors_) * kSectorBytes,
                                                    std::size_t{fatSectors_} * kSectorBytes);
        switch (fs_) {
            case Fs::Fat12: {
                const std::size_t at = std::size_t{n} * 3 / 2;
                std::uint16_t pair = storage::le16(table, at);
                pair = (n & 1) ? static_cast<std::uint16_t>((pair & 0x000F) | ((value & 0xFFF) << 4))
                               : static_cast<std::uint16_t>((pair & 0xF000) | (value & 0xFFF));
                put16(table, at, pair);
                break;
            }
            case Fs::Fat16: put16(table, std::size_t{n} * 2, static_cast<std::uint16_t>(value)); break;
            default: put32(table, std::size_t{n} * 4, value); break;
        }
    }
}

std::uint32_t VolumeBuilder::fat(std::uint32_t n) const {
    const auto table = std::span<const std::byte>(data_).subspan(std::size_t{reserved_} * kSectorBytes,
                                                                 std::size_t{fatSectors_} * kSectorBytes);
    switch (fs_) {
        case Fs::Fat12: {
            const std::uint16_t pair = storage::le16(table, std::size_t{n} * 3 / 2);
            return (n & 1) ? pair >> 4 : pair & 0xFFFu;
        }
        case Fs::Fat16: return storage::le16(table, std::size_t{n} * 2);
        default: return storage::le32(table, std::size_t{n} * 4);
    }
}

void VolumeBuilder::chain(std::initializer_list<std::uint32_t> clusters) {
    const std::vector<std::uint32_t> c(clusters);
    for (std::size_t i = 0; i < c.size(); ++i) setFat(c[i], i + 1 < c.size() ? c[i + 1] : endOfChain());
}

std::span<std::byte> VolumeBuilder::cluster(std::uint32_t c) {
    if (c < 2 || c > clusters_ + 1) {
        ADD_FAILURE() << "cluster " << c << " is not in the volume";
        return {};
    }
    return std::span(data_).subspan((firstData_ + c - 2) * kSectorBytes, kSectorBytes);
}

std::span<std::byte> VolumeBuilder::slot(std::uint32_t folder, std::size_t index) {
    if (folder == 0 && root_ == 0) {
        if (index >= kRootEntries) {
            ADD_FAILURE() << "the fixed root has no slot " << index;
            return {};
        }
        const std::uint64_t rootStart = (reserved_ + std::uint64_t{fats_} * fatSectors_) * kSectorBytes;
        return std::span(data_).subspan(rootStart + index * 32, 32);
    }
    std::uint32_t c = folder;
    for (std::size_t step = 0; step < index / entriesPerCluster(); ++step) {
        c = fat(c);
        if (c < 2 || c > clusters_ + 1) {
            ADD_FAILURE() << "the chain of folder " << folder << " ends before slot " << index;
            return {};
        }
    }
    const auto bytes = cluster(c);
    return bytes.empty() ? bytes : bytes.subspan(index % entriesPerCluster() * 32, 32);
}

std::size_t VolumeBuilder::put(std::uint32_t folder, std::size_t at, const std::vector<RawEntry>& entries) {
    for (const RawEntry& e : entries) {
        const auto dst = slot(folder, at++);
        if (dst.empty()) break;
        std::copy(e.begin(), e.end(), dst.begin());
    }
    return at;
}

void VolumeBuilder::makeFolder(std::uint32_t c, std::uint32_t parent) {
    put(c, 0, {ShortEntry(".", 0x10, c, 0), ShortEntry("..", 0x10, parent == root_ ? 0 : parent, 0)});
    if (fat(c) == 0) setFat(c, endOfChain());
}

}  // namespace brenvale::test
