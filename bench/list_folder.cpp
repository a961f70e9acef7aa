// Listing one folder of 100,000 entries into file-list rows, as the window does when the
// folder is selected: the rows with their type names, status words, sizes and dates, sorted by
// name. The volume is scanned once before the timing starts.
//   usage: list_folder IMAGE [benchmark options]

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "app/folder_view.h"
#include "app/tree_node.h"
#include "app/type_names.h"
#include "partitions/physical_drv.h"
#include "platform/linux/linux_platform.h"
#include "scan/undelete.h"

namespace {

using namespace brenvale;

constexpr char kFolderName[] = "Big Folder";

struct Listing {
    std::unique_ptr<platform::Platform> os;
    std::unique_ptr<partitions::TPhysicalDrv> drv;
    std::unique_ptr<scan::TUndelete> scan;
    app::TreeNode volume;
    app::TreeNode* folder = nullptr;
};

Listing* gListing = nullptr;

void ListFolder(benchmark::State& state, bool deletedOnly) {
    std::size_t rows = 0;
    for (auto _ : state) {
        // A fresh type cache each time: the first listing of a session pays for every extension.
        app::TypeNames types;
        const auto list = app::ListFolderEntries(*gListing->folder, types, deletedOnly);
        rows = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_ListFolderEntries(benchmark::State& state) { ListFolder(state, false); }
void BM_ListFolderEntriesDeletedOnly(benchmark::State& state) { ListFolder(state, true); }

BENCHMARK(BM_ListFolderEntries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListFolderEntriesDeletedOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: list_folder IMAGE [benchmark options]\n");
        return 2;
    }
    Listing listing;
    try {
        listing.os = platform::makeLinuxPlatform();
        listing.drv = std::make_unique<partitions::TPhysicalDrv>(*listing.os, std::string(argv[1]));
        listing.scan = std::make_unique<scan::TUndelete>(*listing.drv->Device, *listing.drv->PartitionList.back(), nullptr);
        if (listing.scan->NormalScan(1) != scan::kScanCompleted) {
            std::fprintf(stderr, "the scan of %s did not complete\n", argv[1]);
            return 1;
        }
        listing.volume.Kind = app::NodeKind::Volume;
        listing.volume.Scan = listing.scan.get();
        listing.volume.MakeScanCapable();
        app::FillFolderNodes(listing.volume, false);
        for (auto& child : listing.volume.Children) {
            if (child->Text == kFolderName) listing.folder = child.get();
        }
        if (!listing.folder) {
            std::fprintf(stderr, "no folder \"%s\" in %s\n", kFolderName, argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    gListing = &listing;
    argv[1] = argv[0];
    int rest = argc - 1;
    benchmark::Initialize(&rest, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
