// The signature scan over disk images holding files made by the real tools (zip, fastjar, tar,
// gzip, bzip2, gcab, python-docx, openpyxl, hand-built RAR; ImageMagick and exiftool for the
// pictures; enscript, ghostscript, qpdf, xlwt and WordPerfect samples for the documents;
// assimp, ezdxf and Python's mailbox for CAD models, drawings and mail, with mail stores,
// databases and drawings built from their layouts), placed contiguous, across batch
// boundaries, at the end of the image, truncated, overwritten and fragmented. What must come
// back is in the manifest, derived from the original files.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "platform/linux/linux_platform.h"
#include "raw/raw_recover.h"
#include "raw/scan_range.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::raw {
namespace {


struct Scanned {
    std::unique_ptr<storage::TDevice> device;
    std::unique_ptr<RawScan> raw;
};

Scanned scanImage(platform::Platform& os, const std::filesystem::path& image, const SizeTables& sizes,
                  std::uint64_t piece) {
    Scanned s;
    s.device = std::make_unique<storage::TDevice>(os, image.string());
    s.raw = std::make_unique<RawScan>(sizes, s.device->BytesPerSector(), DeviceSectors(*s.device));
    const std::uint64_t sectors = s.device->Sectors();
    std::atomic<bool> stop{false};
    for (std::uint64_t at = 0; at < sectors; at += piece) {
        const auto r = ScanRange(*s.raw, *s.device, {0, sectors}, at, std::min(piece, sectors - at), {}, stop);
        EXPECT_EQ(r.outcome, RangeOutcome::Completed);
    }
    s.raw->FinishPending();
    return s;
}

void checkManifest(const std::filesystem::path& manifestPath) {
    const auto manifest = nlohmann::json::parse(std::ifstream(manifestPath));
    const auto dir = manifestPath.parent_path();
    auto os = platform::makeLinuxPlatform();
    const SizeTables sizes;
    for (const auto& img : manifest["images"]) {
        SCOPED_TRACE(img["image"].get<std::string>());
        const auto image = dir / img["image"].get<std::string>();
        auto one = scanImage(*os, image, sizes, UINT64_MAX / 2);
        // In pieces of one batch: the same hits.
        auto parts = scanImage(*os, image, sizes, 2048);
        auto key = [](const RawScan& r) {
            std::vector<std::tuple<std::int64_t, std::int64_t, int, int>> k;
            for (const auto& f : r.RawFiles) k.emplace_back(f.LBA, f.Size, f.MajorType, f.MinorType);
            std::sort(k.begin(), k.end());
            return k;
        };
        EXPECT_EQ(key(*one.raw), key(*parts.raw));

        partitions::TPartition record;
        record.Entry.SectCount = static_cast<std::uint32_t>(one.device->Sectors());
        scan::TUndelete scan(*one.device, record);
        test::TempDir out;
        for (const auto& f : img["files"]) {
            const auto sample = f["sample"].get<std::string>();
            SCOPED_TRACE(sample + " at " + std::to_string(f["lba"].get<std::int64_t>()) + ", " + f["placement"].get<std::string>());
            const auto& expect = f["expect"];
            const TFoundFile* hit = nullptr;
            for (const auto& h : one.raw->RawFiles) {
                if (h.LBA == f["lba"].get<std::int64_t>()) hit = &h;
            }
            if (!expect["found"].get<bool>()) {
                EXPECT_EQ(hit, nullptr);
                continue;
            }
            ASSERT_NE(hit, nullptr);
            EXPECT_EQ(hit->Ext(), expect["ext"].get<std::string>());
            const std::int64_t size = expect["size"].is_null() ? kUnknownSize : expect["size"].get<std::int64_t>();
            EXPECT_EQ(hit->Size, size);
            // Whole at recovery: a known length, or one the recovery measures again; or, for a
            // length taken from a header that is no length, at least the whole file first.
            const bool whole = expect.value("recovers_whole", expect["identical"].get<bool>() && size > 0);
            const bool prefix = expect.value("recovers_prefix", false);
            if (!whole && !prefix) continue;
            const std::string name = RawFileName(*hit, 1);
            ASSERT_TRUE(RawRecoverFile(scan, sizes, *hit, name, out.path().string()));
            // "bytes": only that many leading bytes of the sample are the file (a DXF's line end
            // after its "EOF" is not measured); "recovers_prefix": the length a header gave is no
            // length, and what is written must hold the whole file first.
            auto want = test::ReadWholeFile(dir / sample);
            if (expect.contains("bytes")) want.resize(expect["bytes"].get<std::size_t>());
            auto written = test::ReadWholeFile(out / name);
            if (prefix) {
                ASSERT_GE(written.size(), want.size());
                written.resize(want.size());
            }
            EXPECT_EQ(test::sha256Hex(written), test::sha256Hex(want));
            std::filesystem::remove(out / name);
        }
    }
}

TEST(CarveFixtures, ArchivesComeBackAsTheManifestSays) {
    BRENVALE_REQUIRE_FIXTURE(manifest, "carve/manifest.json");
    checkManifest(manifest);
}

TEST(CarveFixtures, PicturesComeBackAsTheManifestSays) {
    BRENVALE_REQUIRE_FIXTURE(manifest, "carve/pictures.json");
    checkManifest(manifest);
}

TEST(CarveFixtures, DocumentsComeBackAsTheManifestSays) {
    BRENVALE_REQUIRE_FIXTURE(manifest, "carve/documents.json");
    checkManifest(manifest);
}

TEST(CarveFixtures, CadMailAndDatabasesComeBackAsTheManifestSays) {
    BRENVALE_REQUIRE_FIXTURE(manifest, "carve/cad-mail.json");
    checkManifest(manifest);
}

}  // namespace
}  // namespace brenvale::raw
