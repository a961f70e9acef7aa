#include "scan/fat_entry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "scan/mid_entry.h"
#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::scan {

namespace {

// A name field up to its first zero byte, without the characters up to the space at either
// end: the bytes the trimmed name is made of, without building it.
template <std::size_t N>
std::string_view trimmedBytes(const std::array<char, N>& field) {
    std::string_view s(field.data(), N);
    s = s.substr(0, s.find('\0') == std::string_view::npos ? N : s.find('\0'));
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

template <std::size_t N>
void lowerAscii(std::array<char, N>& field) {
    for (char& c : field) c = storage::AsciiLower(c);
}

}  // namespace

namespace {

// A long-name part's units, each of its three pieces up to its first U+0000: how many.
std::size_t partUnits(const storage::TFDT32Entry& rec, std::array<char16_t, 13>& out) {
    // The units' byte offsets, and where each of the three pieces (5, 6 and 2 units) ends.
    static constexpr std::array<std::uint8_t, 13> kOffset{1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    static constexpr std::array<std::size_t, 3> kPieceEnd{5, 11, 13};
    std::array<std::uint8_t, sizeof(rec)> b{};
    std::memcpy(b.data(), &rec, sizeof(rec));
    std::size_t n = 0, k = 0;
    for (const std::size_t end : kPieceEnd) {
        for (; k < end; ++k) {
            const auto u = static_cast<char16_t>(b[kOffset[k]] | b[kOffset[k] + 1u] << 8);
            if (u == 0) break;
            out[n++] = u;
        }
        k = end;
    }
    return n;
}

}  // namespace

std::u16string FatEntry::longNameUnits() const {
    std::array<char16_t, 13> part{};
    return std::u16string(part.data(), partUnits(rec, part));
}

std::string FatEntry::name() const { return TrimmedShortName(rec.filename); }
std::string FatEntry::ext() const { return TrimmedShortExt(rec.fileext); }

std::optional<FatEntry> DecodeFatEntry(std::span<const std::byte> data, std::size_t off) {
    const auto rec = storage::readRecord<storage::TFDT32Entry>(data, off);
    if (!rec) return std::nullopt;
    FatEntry e;
    e.rec = *rec;
    e.deleted = static_cast<std::uint8_t>(rec->filename[0]) == storage::kFatDeletedMark;
    e.folder = (rec->attribute & storage::kFatAttrDirectory) != 0;
    const std::string_view name = trimmedBytes(rec->filename);
    if (rec->attribute == storage::kFatAttrLongName) {
        e.kind = FatEntryKind::LongNamePart;
    } else if (name == "." || name == "..") {
        // Checked after the long-name test: the first part of a name such as ".config backup"
        // reads as "." too once its sequence byte trims away.
        e.kind = FatEntryKind::Dot;
    } else if (name.empty() && trimmedBytes(rec->fileext).empty()) {
        e.kind = FatEntryKind::EndOfFolder;
    } else if (rec->attribute & storage::kFatAttrVolumeLabel) {
        e.kind = FatEntryKind::Label;
    } else {
        e.kind = FatEntryKind::Regular;
    }
    return e;
}

std::optional<std::u16string_view> FatLongNameJoiner::Feed(const FatEntry& e) {
    if (e.kind == FatEntryKind::Dot) return std::nullopt;
    if (e.kind == FatEntryKind::LongNamePart) {
        const int checksum = e.longNameChecksum();
        if (checksum != checksum_) {
            begin_ = units_.size();
            parts_ = 0;
        }
        checksum_ = checksum;
        if (parts_ < kMaxParts) {
            std::array<char16_t, 13> part{};
            const std::size_t n = partUnits(e.rec, part);
            begin_ -= n;
            std::copy_n(part.begin(), n, units_.begin() + static_cast<std::ptrdiff_t>(begin_));
            ++parts_;
        }
        return std::nullopt;
    }
    checksum_ = -1;
    parts_ = 0;
    const std::u16string_view out(units_.data() + begin_, units_.size() - begin_);
    begin_ = units_.size();
    return out;
}

std::optional<std::string> ListedLongName(std::u16string_view units) {
    if (TrimmedWide(units).empty()) return std::nullopt;
    return storage::Utf16ToUtf8(units.substr(0, units.find_first_of(u"\u0000\uFFFF", 0, 2)));
}

void ApplyCaseBits(storage::TArray8& name, std::array<char, 3>& ext, std::uint8_t caseBits) {
    if (caseBits & kFatCaseLowerName) lowerAscii(name);
    if (caseBits & kFatCaseLowerExt) lowerAscii(ext);
}

namespace {

// Bytes an 8.3 name never holds: control bytes and the characters the format forbids (0x05
// stands for a first byte 0xE5; 0xE5 itself marks a deleted entry and is allowed).
bool badShortNameByte(char c, bool first) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20) return !(first && u == 0x05);
    return std::string_view("\"*+,./:;<=>?[\\]|").find(c) != std::string_view::npos;
}

}  // namespace

FatDrop WalkDropRule(const FatEntry& e, bool fat32, const FatVolumeBounds& volume) {
    if (trimmedBytes(e.rec.filename).empty()) return FatDrop::NoName;
    for (std::size_t i = 0; i < e.rec.filename.size(); ++i) {
        if (badShortNameByte(e.rec.filename[i], i == 0)) return FatDrop::BadShortName;
    }
    for (const char c : e.rec.fileext) {
        if (badShortNameByte(c, false)) return FatDrop::BadShortName;
    }
    if (e.rec.attribute & 0xC0) return FatDrop::ReservedAttributes;
    // A folder starting there is still listed (and not walked): it tells where a tree broke.
    if (!e.folder && e.firstCluster(fat32) > volume.lastCluster) return FatDrop::ClusterPastVolume;
    if (e.size() > volume.bytes) return FatDrop::SizePastVolume;
    const bool file = !e.folder;
    if (file && e.deleted && e.size() == 0) return FatDrop::DeletedEmptyFile;
    if (e.folder && !e.deleted && e.size() != 0) return FatDrop::LiveFolderWithSize;
    if (file && e.firstCluster(fat32) == 0 && e.size() != 0) return FatDrop::SizedFileAtNoCluster;
    return FatDrop::Kept;
}

}  // namespace brenvale::scan
