#include "scan/exfat_entry_set.h"

#include <algorithm>

#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::scan {

namespace {

using storage::kExfatDirEntrySize;

// UTF-16 units from `off` up to the first zero or `units`.
void appendUnits(std::u16string& out, std::span<const std::byte> entry, std::size_t off, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = storage::le16(entry, off + 2 * i);
        if (u == 0) break;
        out.push_back(u);
    }
}

std::uint8_t kindOf(std::uint8_t type) { return type & storage::kExfatKindMask; }

}  // namespace

std::string ExfatEntrySet::nameUtf8() const { return storage::Utf16ToUtf8(name); }

ExfatSetResult DecodeExfatEntrySet(std::span<const std::byte> data, std::size_t off) {
    ExfatSetResult out;
    const auto file = storage::readRecord<storage::TExfatFileEntry>(data, off);
    if (!file || kindOf(file->EntryType) != storage::kExfatKindFile) return out;

    ExfatEntrySet& set = out.set;
    set.inUse = (file->EntryType & storage::kExfatInUse) != 0;
    set.secondaryCount = file->SecondaryCount;
    set.attributes = file->FileAttributes;
    set.createTimestamp = file->CreateTimestamp;
    set.lastModifiedTimestamp = file->LastModifiedTimestamp;
    set.entries = 1;

    for (std::size_t j = 1; j <= set.secondaryCount; ++j) {
        // off fitted one entry, and j is at most 255: no overflow.
        const std::size_t at = off + kExfatDirEntrySize * j;
        if (!storage::fits(data, at, kExfatDirEntrySize)) {
            out.status = ExfatSetStatus::CutShort;
            return out;
        }
        const auto sec = data.subspan(at, kExfatDirEntrySize);
        const std::uint8_t type = storage::u8(sec, 0);
        if ((type & storage::kExfatSecondary) == 0) break;
        ++set.entries;
        if (kindOf(type) == storage::kExfatKindStream) {
            const auto stream = *storage::readRecord<storage::TExfatStreamEntry>(sec, 0);
            set.hasStream = true;
            set.streamFlags = stream.GeneralSecondaryFlags;
            set.firstCluster = stream.FirstCluster;
            set.dataLength = stream.DataLength;
        } else if (kindOf(type) == storage::kExfatKindName && set.name.size() < kExfatMaxNameUnits) {
            appendUnits(set.name, sec, offsetof(storage::TExfatNameEntry, FileName), storage::kExfatNameUnitsPerEntry);
            if (set.name.size() > kExfatMaxNameUnits) set.name.resize(kExfatMaxNameUnits);
        }
    }
    out.status = ExfatSetStatus::Ok;
    return out;
}

std::optional<ExfatLabel> DecodeExfatLabel(std::span<const std::byte> data, std::size_t off) {
    const auto label = storage::readRecord<storage::TExfatLabelEntry>(data, off);
    if (!label || kindOf(label->EntryType) != storage::kExfatKindLabel) return std::nullopt;
    std::u16string units;
    appendUnits(units, data.subspan(off, kExfatDirEntrySize), offsetof(storage::TExfatLabelEntry, VolumeLabel),
                std::min<std::size_t>(label->CharacterCount, storage::kExfatLabelUnits));
    return ExfatLabel{(label->EntryType & storage::kExfatInUse) != 0, storage::Utf16ToUtf8(units)};
}

}  // namespace brenvale::scan
