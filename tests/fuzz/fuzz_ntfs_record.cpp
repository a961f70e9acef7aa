// Arbitrary bytes as one NTFS file record and a run list: fix-ups, the attribute walk, the
// attribute reader, attribute lists and the run-list decoder must stay inside their inputs.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scan/ntfs_record.h"
#include "scan/ntfs_walk_detail.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenvale;
    const std::size_t recordBytes = size < 1024 ? size : 1024;
    std::vector<std::byte> rec(recordBytes);
    for (std::size_t i = 0; i < recordBytes; ++i) rec[i] = std::byte{data[i]};
    scan::ApplyFixups(rec);
    (void)scan::HasRecordSignature(rec);
    for (const std::uint32_t type : {0x10u, 0x20u, 0x30u, 0x60u, 0x80u, 0xA0u}) {
        const auto at = scan::FindAttribute(rec, type);
        if (!at) continue;
        storage::TAttribute attr;
        if (scan::ParseAttribute(rec, *at, attr) && !attr.attributebody.empty()) {
            storage::trunlist runs;
            (void)scan::getrunlist(attr.attributebody, attr.attributebody.size() - 1, runs);
            (void)scan::ParseAttributeList(attr.attributebody);
        }
        (void)scan::ResidentValue(rec, *at);
        (void)scan::NextAttribute(rec, *at);
    }
    // The rest of the input as a run list on its own.
    std::vector<std::byte> tail(size - recordBytes);
    for (std::size_t i = recordBytes; i < size; ++i) tail[i - recordBytes] = std::byte{data[i]};
    storage::trunlist runs;
    if (!tail.empty()) (void)scan::getrunlist(tail, tail.size() - 1, runs);
    (void)scan::ParseAttributeList(tail);
    return 0;
}
