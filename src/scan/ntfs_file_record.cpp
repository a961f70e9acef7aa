#include "scan/ntfs_file_record.h"

#include <algorithm>
#include <cstring>

#include "storage/le.h"

namespace brenvale::scan {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;
using storage::u8;

constexpr std::uint64_t kSize48 = 0xFFFFFFFFFFFFull;
constexpr std::uint32_t kAttrAttributeList = 0x20;
constexpr std::size_t kNameSearchLimit = 511;
constexpr std::size_t kSizeSearchLimit = 896;
constexpr std::size_t kMaxNameValue = 600;
constexpr std::uint8_t kDosNamespace = 2;
constexpr std::size_t kStdInfoTimesOffset = offsetof(storage::TFileNameAttrHead, FileCreateTime);
constexpr std::size_t kStdInfoTimesBytes = 32;
constexpr std::size_t kFileNameFlagsOffset = offsetof(storage::TFileNameAttrHead, Flags);
constexpr std::size_t kLengthOfNameOffset = offsetof(storage::TFileNameAttrHead, LengthOfFileName);
constexpr std::size_t kNamespaceOffset = offsetof(storage::TFileNameAttrHead, FileNameSpace);

// A $FILE_NAME value long enough for its header and its name.
bool usableNameValue(std::span<const std::byte> v) {
    return v.size() >= storage::kFileNameOffset &&
           v.size() >= storage::kFileNameOffset + 2 * std::size_t{u8(v, kLengthOfNameOffset)};
}

// Sized once: grown a character at a time, a long name was copied three times over.
std::u16string nameOf(std::span<const std::byte> v) {
    const std::size_t n = u8(v, kLengthOfNameOffset);
    std::u16string out(n, u'\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = le16(v, storage::kFileNameOffset + 2 * i);
    return out;
}

std::uint8_t namespaceOf(std::span<const std::byte> v) { return u8(v, kNamespaceOffset); }

std::uint64_t parentOf(std::span<const std::byte> v) { return le64(v, 0) & kSize48; }

// The file-name values that the attribute list places in other records, in list order.
template <class Visit>
void foreignNames(const std::vector<NtfsListEntry>& list, std::uint64_t self, NtfsRecordSource* source, Visit&& visit) {
    if (!source) return;
    std::vector<std::byte> other;
    for (const auto& e : list) {
        if (e.type != storage::kAttrFileName || e.record == self) continue;
        if (!source->ReadRecord(e.record, other)) continue;
        const auto at = FindAttribute(other, storage::kAttrFileName, e.id);
        if (!at) continue;
        auto v = ResidentValue(other, *at);
        if (v.size() > kMaxNameValue) v = v.first(kMaxNameValue);
        if (usableNameValue(v)) visit(v);
    }
}

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

std::vector<std::byte> ReadAttributeList(std::span<const std::byte> rec, NtfsRecordSource* source) {
    const auto off = FindAttribute(rec, kAttrAttributeList);
    if (!off) return {};
    storage::TAttribute attr;
    if (!ParseAttribute(rec, *off, attr)) return {};
    if (attr.residenthead) return attr.attributebody;
    // A long list lives in clusters of its own: read them, up to a sane size.
    if (!source || attr.attributebody.empty()) return {};
    storage::trunlist runs;
    if (getrunlist(attr.attributebody, attr.attributebody.size() - 1, runs) == RunListStatus::Invalid && runs.empty()) {
        return {};
    }
    // Copied out first: std::min binds references, and the header is packed.
    const std::uint64_t claimed = attr.nonresidenthead->RealSizeOfTheAttribute;
    const std::uint64_t size = std::min<std::uint64_t>(claimed, kMaxAttributeList);
    return source->ReadRuns(runs, size);
}

std::optional<std::uint64_t> HeaderRecordNumber(std::span<const std::byte> rec) {
    if (!storage::fits(rec, 0, sizeof(storage::TFileRecordHeader)) || le16(rec, 4) != 48) return std::nullopt;
    return (std::uint64_t{le16(rec, 42)} << 32) | le32(rec, 44);
}

storage::TFileNameAttrHead NtfsFileRecord::head() const {
    return storage::readRecord<storage::TFileNameAttrHead>(nameValue, 0).value_or(storage::TFileNameAttrHead{});
}

std::optional<NtfsFileRecord> ParseFileRecord(std::span<const std::byte> rec, NtfsRecordSource* source,
                                              std::uint64_t clusterBytes) {
    const auto header = storage::readRecord<storage::TFileRecordHeader>(rec, 0);
    if (!header || header->signature != storage::kFileRecordSignature) return std::nullopt;
    // Extension records carry attributes of another record, never an entry of their own.
    if (le64(rec, offsetof(storage::TFileRecordHeader, baseRecord)) != 0) return std::nullopt;
    NtfsFileRecord r;
    r.flags = header->flags;
    const std::size_t first = header->firstAttributeOffset;

    // The name: among the first three attributes, else through the attribute list.
    std::optional<std::size_t> nameAt;
    std::size_t off = first;
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
            list = ParseAttributeList(ReadAttributeList(rec, source));
            listRead = true;
        }
        return list;
    };
    // The low word of the header alone would mistake record n + 2^32 for n.
    const std::uint64_t self = HeaderRecordNumber(rec).value_or(header->recordNumber);

    if (nameAt) {
        const auto v = ResidentValue(rec, *nameAt);
        if (!usableNameValue(v)) return std::nullopt;
        r.nameValue.assign(v.begin(), v.end());
        r.nameAttrOfs = *nameAt;
    } else {
        foreignNames(attributeList(), self, source, [&](std::span<const std::byte> v) {
            const auto& cur = r.nameValue;
            const bool better = cur.empty() ||
                                (namespaceOf(cur) == kDosNamespace && namespaceOf(v) != kDosNamespace) ||
                                ((namespaceOf(cur) == kDosNamespace) == (namespaceOf(v) == kDosNamespace) &&
                                 u8(v, kLengthOfNameOffset) > u8(cur, kLengthOfNameOffset));
            if (better) r.nameValue.assign(v.begin(), v.end());
        });
        if (r.nameValue.empty()) return std::nullopt;
    }
    r.name = nameOf(r.nameValue);

    // The long name beside a short one.
    if (nameAt) {
        if (const auto next = NextAttribute(rec, *nameAt); next && le32(rec, *next) == storage::kAttrFileName) {
            const auto v = ResidentValue(rec, *next);
            if (usableNameValue(v) && namespaceOf(v) < namespaceOf(r.nameValue)) r.longName = nameOf(v);
        }
    }
    if (r.longName.empty() && namespaceOf(r.nameValue) == kDosNamespace) {
        const std::uint64_t parent = parentOf(r.nameValue);
        foreignNames(attributeList(), self, source, [&](std::span<const std::byte> v) {
            if (r.longName.empty() && parentOf(v) == parent && namespaceOf(v) != kDosNamespace) r.longName = nameOf(v);
        });
    }

    // A list shows the standard-information times and attributes, not the name's copies.
    if (le32(rec, first) == storage::kAttrStandardInformation) {
        const auto si = ResidentValue(rec, first);
        if (si.size() >= kStdInfoTimesBytes + 4) {
            std::memcpy(r.nameValue.data() + kStdInfoTimesOffset, si.data(), kStdInfoTimesBytes);
            std::memcpy(r.nameValue.data() + kFileNameFlagsOffset, si.data() + kStdInfoTimesBytes, 2);
        }
    }

    // The size of the unnamed data stream.
    auto takeSizes = [&](std::span<const std::byte> in, std::size_t at) {
        if (u8(in, at + 8) != 0) {
            constexpr std::size_t nr = sizeof(storage::TStdHead);
            r.allocSize = le64(in, at + nr + offsetof(storage::TNonResidentHead, AllocatedSizeOfTheAttribute)) & kSize48;
            r.realSize = le64(in, at + nr + offsetof(storage::TNonResidentHead, RealSizeOfTheAttribute)) & kSize48;
        } else {
            r.realSize = le32(in, at + 16);
            r.allocSize = clusterBytes;
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
    const bool folder = (r.flags & storage::kFileRecordDirectory) != 0;
    if (!sized && !folder && source) {
        std::vector<std::byte> other;
        for (const auto& e : attributeList()) {
            if (e.type != storage::kAttrData || e.nameLength != 0 || e.startVcn != 0) continue;
            if (!source->ReadRecord(e.record, other)) continue;
            if (const auto at = FindAttribute(other, storage::kAttrData, e.id)) {
                takeSizes(other, *at);
                break;
            }
        }
    }
    if (folder) r.allocSize = r.realSize = 0;

    // Further names: the record's own after the chosen one, then those of extension records.
    off = first;
    while (storage::fits(rec, off, 16) && u8(rec, off) != 0xFF && le32(rec, off + 4) >= 16) {
        if (le32(rec, off) == storage::kAttrFileName && off != r.nameAttrOfs) {
            const auto v = ResidentValue(rec, off);
            if (usableNameValue(v)) r.otherNames.emplace_back(v.begin(), v.end());
        }
        const auto next = NextAttribute(rec, off);
        if (!next) break;
        off = *next;
    }
    // The chosen name may be among them: a further name of the chosen folder adds nothing.
    foreignNames(attributeList(), self, source,
                 [&](std::span<const std::byte> v) { r.otherNames.emplace_back(v.begin(), v.end()); });
    return r;
}

NtfsDataStream ParseDataStream(std::span<const std::byte> rec, NtfsRecordSource* source) {
    NtfsDataStream out;
    storage::TAttribute data;
    bool found = false;
    if (FindAttribute(rec, kAttrAttributeList) && source) {
        // The runs of every extension that holds part of the stream, in list order.
        storage::TAttribute last;
        std::vector<std::byte> other;
        for (const auto& e : ParseAttributeList(ReadAttributeList(rec, source))) {
            // Only the unnamed stream: a named one is another stream of the file.
            if (e.type != storage::kAttrData || e.nameLength != 0) continue;
            if (!source->ReadRecord(e.record, other)) continue;
            auto at = FindAttribute(other, storage::kAttrData, e.id);
            if (!at) at = FindAttribute(other, storage::kAttrData);
            storage::TAttribute a;
            if (!at || !ParseAttribute(other, *at, a)) continue;
            if (a.nonresidenthead && !a.attributebody.empty()) {
                out.runStatus = Worse(out.runStatus, getrunlist(a.attributebody, a.attributebody.size() - 1, out.runs));
            }
            last = std::move(a);
            found = true;
        }
        if (found) data = std::move(last);
    }
    if (!found) {
        out.runs.clear();
        out.runStatus = RunListStatus::Whole;
        const auto at = FindAttribute(rec, storage::kAttrData);
        if (!at || !ParseAttribute(rec, *at, data)) return out;
        if (data.nonresidenthead && !data.attributebody.empty()) {
            out.runStatus = getrunlist(data.attributebody, data.attributebody.size() - 1, out.runs);
        }
    }
    if (data.StdHead.AttributeType != storage::kAttrData) return out;
    out.found = true;
    out.attrFlags = data.StdHead.CompressedFlag;
    if (!data.nonresidenthead) {
        out.resident = true;
        out.value = std::move(data.attributebody);
    }
    return out;
}

}  // namespace brenvale::scan
