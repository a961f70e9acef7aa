// Arbitrary bytes as an object of the advanced scan: the whole scan, the rebuilt tree, copying
// its files into memory, statistics and search must end with a finite, in-bounds result,
// whatever the harvested records and entries claim about sizes, clusters and runs. The first
// input byte picks the file-system code the boot-sector copy carries.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "advscan/adv_recover.h"
#include "advscan/adv_search.h"
#include "advscan/adv_tree.h"
#include "advscan/advanced_scan.h"
#include "app/statistics.h"
#include "partitions/partition.h"
#include "platform/fake/fake_platform.h"
#include "raw/signature_scan.h"
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
                                              storage::kFsExfat, storage::kFsNtfs, 0};
    const std::uint8_t fs = kCodes[data[0] % 6];
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
        const raw::SizeTables sizes;
        raw::RawScan raw(sizes, 512, raw::DeviceSectors(device));
        advscan::AdvancedScan adv(scan, raw, 0, device.Sectors());
        std::atomic<bool> stop{false};
        if (adv.AdvScan(stop) == advscan::kAdvDeviceLost) return 0;
        const advscan::AdvTree tree(adv);
        advscan::AdvRecovery recovery(adv, scan);
        std::vector<std::byte> buf;
        std::size_t copied = 0;
        for (const advscan::AdvNode& n : tree.Nodes()) {
            if (n.folder || !n.entry) continue;
            // Reading is bounded by the size asked for: cap what one input may read.
            if (copied++ >= 16) break;
            (void)recovery.AdvRecoverFileToBuf(n.entry, recovery.FsTypeOf(n), buf, 8192);
            if (buf.size() > 8192) __builtin_trap();
        }
        app::StatCounter counter;
        counter.CountAdvanced(tree, 0);
        if (counter.Totals().Files + counter.Totals().Dirs > tree.Nodes().size()) __builtin_trap();
        advscan::AdvSearchQuery q;
        q.Name = "*a*,?";
        (void)advscan::AdvFindFiles(tree, 0, q);
        for (std::size_t i = 0; i < tree.Nodes().size() && i < 64; ++i) {
            if (tree.Find(tree.PathOf(i)) > i) __builtin_trap();  // a path leads to its node or an earlier one of the same path
        }
    } catch (const std::exception&) {
        // A failure reported as an exception is an acceptable end.
    }
    return 0;
}
