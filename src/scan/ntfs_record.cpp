#include "scan/ntfs_record.h"

#include <algorithm>
#include <cstring>

#include "storage/le.h"

namespace brenvale::scan {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;
using storage::u8;

constexpr std::size_t kAttrHeaderSize = 16;
constexpr std::size_t kNonResidentHeaderEnd = 64;
constexpr std::size_t kResidentHeaderEnd = 24;

}  // namespace

bool HasRecordSignature(std::span<const std::byte> rec) {
    if (rec.size() < 4) return false;
    return std::memcmp(rec.data(), "FILE", 4) == 0 || std::memcmp(rec.data(), "BAAD", 4) == 0;
}

bool ApplyFixups(std::span<std::byte> rec) {
    const std::uint16_t usOffset = le16(rec, 4);
    const std::uint16_t usCount = le16(rec, 6);
    const std::size_t strides = rec.size() / storage::kUpdateSequenceStride;
    const std::size_t k = std::min<std::size_t>(usCount == 0 ? 0 : usCount - 1u, strides);
    bool intact = usCount <= strides + 1 && storage::fits(rec, usOffset, 2 * std::size_t{usCount});
    const std::uint16_t usn = le16(rec, usOffset);
    for (std::size_t i = 1; i <= k; ++i) {
        const std::size_t from = usOffset + 2 * i;
        const std::size_t to = i * storage::kUpdateSequenceStride - 2;
        if (!storage::fits(rec, from, 2) || !storage::fits(rec, to, 2)) {
            intact = false;
            continue;
        }
        if (le16(rec, to) != usn) intact = false;
        rec[to] = rec[from];
        rec[to + 1] = rec[from + 1];
    }
    return intact;
}

std::optional<std::size_t> NextAttribute(std::span<const std::byte> rec, std::size_t off) {
    const std::uint32_t length = le32(rec, off + 4);
    if (length < kAttrHeaderSize || !storage::fits(rec, off, length)) return std::nullopt;
    const std::size_t next = off + length;
    if (!storage::fits(rec, next, 4) || le32(rec, next) == storage::kAttrEnd) return std::nullopt;
    return next;
}

std::optional<std::size_t> FindAttribute(std::span<const std::byte> rec, std::uint32_t type, std::uint16_t id) {
    std::size_t off = le16(rec, 20);
    // Each step moves forward by at least a header, so the walk ends within the record.
    while (storage::fits(rec, off, kAttrHeaderSize)) {
        const std::uint32_t t = le32(rec, off);
        if (t == storage::kAttrEnd) return std::nullopt;
        if (t == type && (id == 0 || le16(rec, off + 14) == id)) return off;
        const auto next = NextAttribute(rec, off);
        if (!next) return std::nullopt;
        off = *next;
    }
    return std::nullopt;
}

bool ParseAttribute(std::span<const std::byte> rec, std::size_t off, storage::TAttribute& out) {
    const auto head = storage::readRecord<storage::TStdHead>(rec, off);
    if (!head || head->length < kAttrHeaderSize || !storage::fits(rec, off, head->length)) return false;
    const auto attr = rec.subspan(off, head->length);
    out = storage::TAttribute{};
    out.StdHead = *head;
    const std::size_t nameBytes = std::size_t{head->NameLength} * 2;
    auto readName = [&](std::size_t at) {
        if (!storage::fits(attr, at, nameBytes)) return false;
        for (std::size_t i = 0; i < head->NameLength; ++i) out.attributename.push_back(le16(attr, at + 2 * i));
        return true;
    };
    if (head->NonResidentFlag != 0) {
        const auto nr = storage::readRecord<storage::TNonResidentHead>(attr, kAttrHeaderSize);
        if (!nr) return false;
        out.nonresidenthead = *nr;
        if (nameBytes && !readName(kNonResidentHeaderEnd)) return false;
        // The header says where the runs start: compressed attributes carry 8 more header
        // bytes, named ones their name first.
        std::size_t runs = nr->OffsetToTheDataRuns;
        if (runs < kNonResidentHeaderEnd || runs > attr.size()) runs = kNonResidentHeaderEnd + nameBytes;
        if (runs > attr.size()) return false;
        const auto body = attr.subspan(runs);
        out.attributebody.assign(body.begin(), body.end());
        return true;
    }
    const auto rh = storage::readRecord<storage::TResidentHead>(attr, kAttrHeaderSize);
    if (!rh) return false;
    out.residenthead = *rh;
    if (nameBytes && !readName(kResidentHeaderEnd)) return false;
    std::size_t value = rh->OffsetToTheStream;
    if (value < kResidentHeaderEnd + nameBytes || value > attr.size()) value = kResidentHeaderEnd + nameBytes;
    if (!storage::fits(attr, value, rh->LengthOfTheStream)) return false;
    const auto body = attr.subspan(value, rh->LengthOfTheStream);
    out.attributebody.assign(body.begin(), body.end());
    return true;
}

std::span<const std::byte> ResidentValue(std::span<const std::byte> rec, std::size_t off) {
    const std::uint32_t length = le32(rec, off + 4);
    if (length < kResidentHeaderEnd || !storage::fits(rec, off, length) || u8(rec, off + 8) != 0) return {};
    const auto attr = rec.subspan(off, length);
    const std::uint32_t valueLength = le32(attr, 16);
    const std::uint16_t valueOffset = le16(attr, 20);
    if (valueOffset < kResidentHeaderEnd || !storage::fits(attr, valueOffset, valueLength)) return {};
    return attr.subspan(valueOffset, valueLength);
}

const char* RunListStatusText(RunListStatus status) {
    switch (status) {
        case RunListStatus::Whole: return "whole";
        case RunListStatus::CutShort: return "cut short";
        case RunListStatus::Invalid: return "invalid";
    }
    return "";
}

RunListStatus getrunlist(std::span<const std::byte> Bytes, std::size_t LastIndex, storage::trunlist& Runs) {
    const std::size_t end = Bytes.empty() ? 0 : std::min(LastIndex, Bytes.size() - 1) + 1;
    std::int64_t previous = 0;
    std::size_t pos = 0;
    while (true) {
        if (pos >= end) return RunListStatus::CutShort;
        const std::uint8_t header = u8(Bytes, pos++);
        if (header == 0) return RunListStatus::Whole;
        const std::size_t lengthBytes = header & 0x0F;
        const std::size_t offsetBytes = header >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return RunListStatus::Invalid;
        if (lengthBytes + offsetBytes > end - pos) return RunListStatus::CutShort;
        std::uint64_t length = 0;
        for (std::size_t i = lengthBytes; i-- > 0;) length = (length << 8) | u8(Bytes, pos + i);
        pos += lengthBytes;
        if (length == 0 || length > static_cast<std::uint64_t>(INT64_MAX)) return RunListStatus::Invalid;
        storage::TRun run;
        run.clusnum = static_cast<std::int64_t>(length);
        if (offsetBytes != 0) {
            std::uint64_t raw = 0;
            for (std::size_t i = offsetBytes; i-- > 0;) raw = (raw << 8) | u8(Bytes, pos + i);
            pos += offsetBytes;
            // Relative offsets are signed in as many bytes as they take.
            if (offsetBytes < 8 && ((raw >> (offsetBytes * 8 - 1)) & 1)) raw |= ~std::uint64_t{0} << (offsetBytes * 8);
            std::int64_t next = 0;
            // A run before cluster 0 is left to the reader, which knows the volume.
            if (__builtin_add_overflow(previous, static_cast<std::int64_t>(raw), &next)) return RunListStatus::Invalid;
            previous = next;
            run.offset = previous;
        }
        Runs.push_back(run);
    }
}

}  // namespace brenvale::scan
