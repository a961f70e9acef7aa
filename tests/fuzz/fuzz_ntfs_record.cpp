// Arbitrary bytes as one NTFS file record and a run list: fix-ups, the attribute walk, the
// attribute reader, attribute lists, the record parser and the run-list decoder must stay
// inside their inputs. The record's extension records are the input again.

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "scan/ntfs_record.h"
#include "scan/ntfs_file_record.h"

namespace {

// Every extension record is the record itself; attribute lists outside it read as the tail.
class SelfSource final : public brenvale::scan::NtfsRecordSource {
public:
    SelfSource(std::span<const std::byte> rec, std::span<const std::byte> tail) : rec_(rec), tail_(tail) {}
    bool ReadRecord(std::uint64_t, std::vector<std::byte>& out) override {
        out.assign(rec_.begin(), rec_.end());
        return true;
    }
    std::vector<std::byte> ReadRuns(const brenvale::storage::trunlist&, std::uint64_t size) override {
        return {tail_.begin(), tail_.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, tail_.size()))};
    }

private:
    std::span<const std::byte> rec_, tail_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenvale;
    const std::size_t recordBytes = size < 1024 ? size : 1024;
    std::vector<std::byte> rec(recordBytes);
    for (std::size_t i = 0; i < recordBytes; ++i) rec[i] = std::byte{data[i]};
    (void)scan::ApplyFixups(rec);
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
    SelfSource source(rec, tail);
    (void)scan::ParseFileRecord(rec, &source, 4096);
    (void)scan::ParseFileRecord(rec, nullptr, 4096);
    (void)scan::ParseDataStream(rec, &source);
    (void)scan::HeaderRecordNumber(rec);
    storage::trunlist runs;
    if (!tail.empty()) (void)scan::getrunlist(tail, tail.size() - 1, runs);
    (void)scan::ParseAttributeList(tail);
    return 0;
}
