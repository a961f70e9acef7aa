// Saving and loading the checkpoint of an advanced scan that has harvested 1,000,000 NTFS
// records (names of 8 to 40 characters): the stop of a long scan waits for the save, the
// resume for the load.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "advscan/scan_checkpoint.h"

namespace {

using namespace brenvale;

constexpr std::size_t kRecords = 1'000'000;

const advscan::TCheckpointData& harvest() {
    static advscan::TCheckpointData d = [] {
        advscan::TCheckpointData out;
        out.SourceType = 1;
        out.SourceId = "/images/disk.dif";
        out.FS = 255;
        out.AdvPhase = 1;
        out.AdvLBA = 123456789;
        out.AdvRecordLength = 1024;
        out.AdvNTFSFileList.reserve(kRecords);
        for (std::size_t i = 0; i < kRecords; ++i) {
            scan::tntfsfilerecord& r = out.OwnedNtfs.emplace_back();
            r.sectornumber = static_cast<std::int64_t>(i * 2 + 4096);
            r.recordnumber = static_cast<std::int64_t>(i + 16);
            r.realsize = i * 37;
            r.allocsize = (r.realsize + 4095) / 4096 * 4096;
            r.filename = "document-" + std::to_string(i) + std::string(i % 32, 'x') + ".txt";
            r.flag = i % 3 ? 1 : 0;
            out.AdvNTFSFileList.push_back(&r);
        }
        return out;
    }();
    return d;
}

std::string path() {
    return (std::filesystem::temp_directory_path() / "brenvale-bench.qvc").string();
}

void BM_SaveCheckpoint(benchmark::State& state) {
    const auto& d = harvest();
    for (auto _ : state) {
        if (!advscan::SaveScanCheckpoint(path(), d)) state.SkipWithError("save failed");
    }
    state.counters["MiB"] = static_cast<double>(std::filesystem::file_size(path())) / (1 << 20);
}

void BM_LoadCheckpoint(benchmark::State& state) {
    if (!advscan::SaveScanCheckpoint(path(), harvest())) state.SkipWithError("save failed");
    for (auto _ : state) {
        advscan::TCheckpointData d;
        if (advscan::LoadScanCheckpoint(path(), d) != advscan::kCheckpointLoaded ||
            d.AdvNTFSFileList.size() != kRecords) {
            state.SkipWithError("load failed");
        }
    }
    std::filesystem::remove(path());
}

// The same without the file: the encoding and decoding alone.
void BM_Encode(benchmark::State& state) {
    const auto& d = harvest();  // made once, outside the timing
    for (auto _ : state) benchmark::DoNotOptimize(advscan::EncodeScanCheckpoint(d));
}

void BM_Decode(benchmark::State& state) {
    const auto bytes = advscan::EncodeScanCheckpoint(harvest());
    for (auto _ : state) {
        advscan::TCheckpointData d;
        benchmark::DoNotOptimize(advscan::DecodeScanCheckpoint(bytes, d));
    }
}

BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SaveCheckpoint)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LoadCheckpoint)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
