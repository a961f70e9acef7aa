// Arbitrary bytes as FAT directory slots and as exFAT entries: the decoders stay inside the
// span, long names stay within their 20 parts and exFAT names within 255 units, and a set never
// claims more entries than the span holds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "scan/exfat_entry_set.h"
#include "scan/fat_entry.h"

namespace {

using namespace brenvale;

void fatSlots(std::span<const std::byte> data) {
    scan::FatLongNameJoiner joiner;
    for (std::size_t off = 0; off < data.size(); off += 32) {
        const auto e = scan::DecodeFatEntry(data, off);
        if (e.has_value() != (data.size() - off >= 32)) std::abort();
        if (!e) break;
        const auto units = joiner.Feed(*e);
        if (units) {
            if (units->size() > scan::FatLongNameJoiner::kMaxParts * 13) std::abort();
            (void)scan::ListedLongName(*units);
        }
        if (e->kind == scan::FatEntryKind::Regular) {
            (void)scan::WalkDropRule(*e, false);
            (void)scan::WalkDropRule(*e, true);
            auto rec = e->rec;
            scan::ApplyCaseBits(rec.filename, rec.fileext, e->caseBits());
            (void)e->name();
            (void)e->ext();
        }
    }
}

void exfatEntries(std::span<const std::byte> data, std::size_t step) {
    for (std::size_t off = 0; off < data.size(); off += step) {
        const auto r = scan::DecodeExfatEntrySet(data, off);
        switch (r.status) {
            case scan::ExfatSetStatus::Ok:
                if (r.set.entries < 1 || r.set.entries > 1u + r.set.secondaryCount) std::abort();
                if (off + r.set.entries * 32 > data.size()) std::abort();
                if (r.set.name.size() > scan::kExfatMaxNameUnits) std::abort();
                (void)r.set.nameUtf8();
                break;
            case scan::ExfatSetStatus::CutShort:
                if (off + (1u + r.set.secondaryCount) * 32 <= data.size()) std::abort();
                break;
            case scan::ExfatSetStatus::NotASet:
                break;
        }
        if (const auto label = scan::DecodeExfatLabel(data, off)) {
            if (off + 32 > data.size()) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::byte> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = std::byte{data[i]};
    fatSlots(bytes);
    // Entries found anywhere on a disk need not sit on a 32-byte boundary of what was read.
    exfatEntries(bytes, 32);
    if (size <= 4096) exfatEntries(bytes, 1);
    return 0;
}
