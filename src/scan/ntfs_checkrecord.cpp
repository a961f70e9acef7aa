// What a base file record of the master file table yields: its file name (with the long name
// beside a DOS name), the standard-information times and the size of its unnamed data stream,
// following the attribute list into extension records where the base record lacks them.

#include <algorithm>
#include <cstring>

#include "scan/ntfs_record.h"
#include "scan/ntfs_walk_detail.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/le.h"

namespace brenvale::scan {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;
using storage::u8;

constexpr std::uint64_t kSize48 = 0xFFFFFFFFFFFFull;
constexpr std::size_t kNameSearchLimit = 511;
constexpr std::size_t kSizeSearchLimit = 896;
constexpr std::size_t kMaxNameValue = 600;
constexpr std::uint8_t kDosNamespace = 2;

// A $FILE_NAME value long enough for its header and its name.
bool usableNameValue(std::span<const std::byte> v) {
    return v.size() >= storage::kFileNameOffset &&
           v.size() >= storage::kFileNameOffset + 2 * std::size_t{u8(v, 64)};
}

// Sized once: grown a character at a time, a long name was copied three times over.
std::u16string nameOf(std::span<const std::byte> v) {
    const std::size_t n = u8(v, 64);
    std::u16string out(n, u'\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = le16(v, storage::kFileNameOffset + 2 * i);
    return out;
}

std::uint8_t namespaceOf(std::span<const std::byte> v) { return u8(v, 65); }

std::uint64_t parentOf(std::span<const std::byte> v) { return le64(v, 0) & kSize48; }

}  // namespace

std::vector<NtfsListEntry> ParseAttributeList(std::span<const std::byte> list) {
    std::vector<NtfsListEntry> out;
    std::size_t off = 0;
    while (storage::fits(list, off, 26)) {
        const std::uint16_t length = le16(list, off + 4);
        if (length < 26 || !storage::fits(list, off, length)) break;
        NtfsListEntry e;
        e.type = le32(list, off);
        e.nameLength = u8(list, off + 6);
        e.startVcn = le64(list, off + 8);
        e.record = le64(list, off + 16) & kSize48;
        e.id = le16(list, off + 24);
        out.push_back(e);
        off += length;
    }
    return out;
}

std::vector<std::byte> TUndelete::ReadAttributeList(std::span<const std::byte> rec) {
    const auto off = FindAttribute(rec, 0x20);
    if (!off) return {};
    storage::TAttribute attr;
    if (!ParseAttribute(rec, *off, attr)) return {};
    if (attr.residenthead) return attr.attributebody;
    // A long list lives in clusters of its own: read them, up to a sane size.
    storage::trunlist runs;
    if (attr.attributebody.empty()) return {};
    getrunlist(attr.attributebody, attr.attributebody.size() - 1, runs);
    const std::uint64_t claimed = attr.nonresidenthead->RealSizeOfTheAttribute;
    const std::uint64_t size = std::min<std::uint64_t>(claimed, kMaxAttributeList);
    const std::uint64_t cluster = std::uint64_t{FNtfsSpc} * FNtfsBps;
    std::vector<std::byte> out(static_cast<std::size_t>(size));
    std::size_t at = 0;
    for (const auto& run : runs) {
        if (at >= out.size() || cluster == 0) break;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(out.size() - at, static_cast<std::uint64_t>(std::max<std::int64_t>(run.clusnum, 0)) * cluster));
        if (run.offset > 0) FReader->Read(static_cast<std::uint64_t>(run.offset) * cluster, std::span(out).subspan(at, want));
        at += want;
    }
    out.resize(at);
    return out;
}

std::optional<TUndelete::NtfsName> TUndelete::checkrecord(std::span<const std::byte> rec) {
    if (rec.size() < 48 || std::memcmp(rec.data(), "FILE", 4) != 0 || le64(rec, 32) != 0) return std::nullopt;
    NtfsName r;
    r.flags = le16(rec, 22);

    // The name: among the first three attributes, else through the attribute list.
    std::optional<std::size_t> nameAt;
    std::size_t off = le16(rec, 20);
    for (int step = 0; step < 3 && off <= kNameSearchLimit && storage::fits(rec, off, 16); ++step) {
        if (le32(rec, off) == storage::kAttrFileName) {
            nameAt = off;
            break;
        }
        const auto next = NextAttribute(rec, off);
        if (!next) break;
        off = *next;
    }
    std::vector<NtfsListEntry> list;
    bool listRead = false;
    auto attributeList = [&]() -> const std::vector<NtfsListEntry>& {
        if (!listRead) {
            list = ParseAttributeList(ReadAttributeList(rec));
            listRead = true;
        }
        return list;
    };
    const std::uint64_t self = le32(rec, 44);
    // File names that the attribute list places in other records.
    auto foreignNames = [&](auto&& visit) {
        std::vector<std::byte> other;
        for (const auto& e : attributeList()) {
            if (e.type != storage::kAttrFileName || e.record == self) continue;
            if (!readRecordAt(NtfsRecordByteOfs(static_cast<std::int64_t>(e.record)), other)) continue;
            const auto at = FindAttribute(other, storage::kAttrFileName, e.id);
            if (!at) continue;
            auto v = ResidentValue(other, *at);
            if (v.size() > kMaxNameValue) v = v.first(kMaxNameValue);
            if (usableNameValue(v)) visit(v);
        }
    };

    if (nameAt) {
        const auto v = ResidentValue(rec, *nameAt);
        if (!usableNameValue(v)) return std::nullopt;
        r.value.assign(v.begin(), v.end());
        r.attrOfs = *nameAt;
    } else {
        foreignNames([&](std::span<const std::byte> v) {
            const bool better = r.value.empty() ||
                                (namespaceOf(r.value) == kDosNamespace && namespaceOf(v) != kDosNamespace) ||
                                ((namespaceOf(r.value) == kDosNamespace) == (namespaceOf(v) == kDosNamespace) &&
                                 u8(v, 64) > u8(r.value, 64));
            if (better) r.value.assign(v.begin(), v.end());
        });
        if (r.value.empty()) return std::nullopt;
    }
    r.name = nameOf(r.value);

    // The long name beside a short one.
    if (nameAt) {
        if (const auto next = NextAttribute(rec, *nameAt); next && le32(rec, *next) == storage::kAttrFileName) {
            const auto v = ResidentValue(rec, *next);
            if (usableNameValue(v) && namespaceOf(v) < namespaceOf(r.value)) r.longName = nameOf(v);
        }
    }
    if (r.longName.empty() && namespaceOf(r.value) == kDosNamespace) {
        const std::uint64_t parent = parentOf(r.value);
        foreignNames([&](std::span<const std::byte> v) {
            if (r.longName.empty() && parentOf(v) == parent && namespaceOf(v) != kDosNamespace) r.longName = nameOf(v);
        });
    }

    // A list shows the standard-information times and attributes, not the name's copies.
    const std::size_t first = le16(rec, 20);
    if (le32(rec, first) == storage::kAttrStandardInformation) {
        const auto si = ResidentValue(rec, first);
        if (si.size() >= 36) {
            std::memcpy(r.value.data() + 8, si.data(), 32);
            std::memcpy(r.value.data() + 56, si.data() + 32, 2);
        }
    }

    // The size of the unnamed data stream.
    const std::uint64_t cluster = std::uint64_t{FNtfsSpc} * FNtfsBps;
    auto takeSizes = [&](std::span<const std::byte> in, std::size_t at) {
        if (u8(in, at + 8) != 0) {
            r.alloc = le64(in, at + 40) & kSize48;
            r.real = le64(in, at + 48) & kSize48;
        } else {
            r.real = le32(in, at + 16);
            r.alloc = cluster;
        }
    };
    bool sized = false;
    off = nameAt.value_or(first);
    for (int step = 0; step < 7 && off < kSizeSearchLimit && storage::fits(rec, off, 16); ++step) {
        const std::uint32_t type = le32(rec, off);
        if (type >= storage::kAttrData) {
            if (type == storage::kAttrData && u8(rec, off + 9) == 0) {
                takeSizes(rec, off);
                sized = true;
            }
            break;
        }
        const auto next = NextAttribute(rec, off);
        if (!next) break;
        off = *next;
    }
    if (!sized && !(r.flags & storage::kFileRecordDirectory)) {
        std::vector<std::byte> other;
        for (const auto& e : attributeList()) {
            if (e.type != storage::kAttrData || e.nameLength != 0 || e.startVcn != 0) continue;
            if (!readRecordAt(NtfsRecordByteOfs(static_cast<std::int64_t>(e.record)), other)) continue;
            if (const auto at = FindAttribute(other, storage::kAttrData, e.id)) {
                takeSizes(other, *at);
                break;
            }
        }
    }
    if (r.flags & storage::kFileRecordDirectory) r.alloc = r.real = 0;
    return r;
}

}  // namespace brenvale::scan
