// Arbitrary bytes as a FAT12/16/32, exFAT or NTFS volume: the standard scan, the cluster
// chains, the high-word search, the deleted-only filter, search and recovery into memory must
// end with a finite, in-bounds result. The first input byte picks the file-system code the
// boot-sector copy carries, so every walker sees every kind of garbage, not only what passes
// the detection.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "partitions/partition.h"
#include "platform/fake/fake_platform.h"
#include "scan/undelete.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"

namespace {

class NullSink : public brenvale::storage::MessageSink {
public:
    void ShowMessage(brenvale::storage::MessageKind, const std::string&, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenvale;
    if (size < 2) return 0;
    static constexpr std::uint8_t kCodes[] = {storage::kFsFat12, storage::kFsFat16, storage::kFsFat32,
                                              storage::kFsExfat, storage::kFsNtfs};
    const std::uint8_t fs = kCodes[data[0] % 5];
    // Whole sectors, at least a boot sector's worth; the rest of the input is the volume.
    std::vector<std::byte> volume(std::max<std::size_t>((size - 1 + 511) / 512, 1) * 512);
    for (std::size_t i = 1; i < size; ++i) volume[i - 1] = std::byte{data[i]};

    platform::fake::FakePlatform os;
    os.addDisk("/volume.img", volume, 512, false);
    try {
        storage::TDevice device(os, "/volume.img");
        partitions::TPartition part;
        part.BootSector = storage::MakeBootSector(volume);
        part.BootSector.FileSystemType = fs;
        part.SectCount64 = static_cast<std::int64_t>(volume.size() / 512);
        NullSink sink;
        scan::TUndelete scan(device, part, &sink);
        (void)scan.NormalScan(1);
        std::vector<std::byte> buf;
        std::size_t recovered = 0;
        for (const scan::TScanEntry* e : scan.ScannedFiles) {
            const std::string name = scan.EntryDisplayName(e);
            (void)scan.DelEntryIsDeleted(e);
            // Reading data is bounded by the file size: cap how much one input may ask for.
            if (recovered++ < 8) {
                (void)scan.RecoverFileToBuf(e, name, buf, 4096);
                (void)scan.RecoverFileTailToBuf(e, name, buf, 512);
            }
        }
        std::vector<scan::TScanEntry*> hits;
        (void)scan.FindFiles("*a*,?", false, 1, 1.0, 80000.0, 0, 100000, nullptr, true, true, hits);
        scan::TClusterBuf chain;
        std::uint32_t count = 0;
        (void)scan.GetClusNumChain(scan.Geometry().rootCluster, chain, count);
        (void)scan.FindHiClusNum("x.jpg", 0, 3);
    } catch (const storage::DeviceError&) {
    }
    return 0;
}
