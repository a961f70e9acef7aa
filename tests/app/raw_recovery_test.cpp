// The "Raw Recovery" window without widgets: the tree, rows, filters, previews and recovery of
// the hits the carve driver finds in images holding pictures and documents that the real tools
// made (the generator's manifest says what each file is and where it lies), and its refusals.

#include <gmock/gmock.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/file_type_options.h"
#include "app/raw_preview.h"
#include "app/raw_recover_command.h"
#include "app/raw_recovery_model.h"
#include "app/scripted_ui.h"
#include "app/shell.h"
#include "platform/linux/linux_platform.h"
#include "raw/raw_recover.h"
#include "raw/scan_range.h"
#include "storage/device.h"
#include "storage/format_size.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// One carve fixture: the image scanned by the carve driver, as the advanced scan scans it.
struct Carved {
    std::unique_ptr<storage::TDevice> device;
    partitions::TPartition record;
    std::unique_ptr<scan::TUndelete> scan;
    std::unique_ptr<raw::RawScan> raw;
    nlohmann::json manifest;
    std::filesystem::path dir;
};

std::unique_ptr<Carved> carve(platform::Platform& os, const std::filesystem::path& manifestPath, const raw::SizeTables& sizes) {
    auto c = std::make_unique<Carved>();
    c->manifest = nlohmann::json::parse(std::ifstream(manifestPath))["images"][0];
    c->dir = manifestPath.parent_path();
    c->device = std::make_unique<storage::TDevice>(os, (c->dir / c->manifest["image"].get<std::string>()).string());
    c->record.Entry.SectCount = static_cast<std::uint32_t>(c->device->Sectors());
    c->scan = std::make_unique<scan::TUndelete>(*c->device, c->record);
    c->raw = std::make_unique<raw::RawScan>(sizes, c->device->BytesPerSector(), raw::DeviceSectors(*c->device));
    std::atomic<bool> stop{false};
    const auto r = raw::ScanRange(*c->raw, *c->device, {0, c->device->Sectors()}, 0, c->device->Sectors(), {}, stop);
    EXPECT_EQ(r.outcome, raw::RangeOutcome::Completed);
    c->raw->FinishPending();
    return c;
}

// Extensions that only one catalogue row gives, with that row.
std::map<std::string, const raw::FileTypeInfo*> unambiguousExtensions() {
    std::map<std::string, std::vector<const raw::FileTypeInfo*>> rows;
    for (const auto& t : raw::FileTypeCatalogue()) {
        std::istringstream words(std::string(t.Ext) + " " + t.OtherExts);
        std::string w;
        while (words >> w) rows[w].push_back(&t);
    }
    std::map<std::string, const raw::FileTypeInfo*> out;
    for (const auto& [ext, list] : rows) {
        if (list.size() == 1) out[ext] = list[0];
    }
    return out;
}

const app::RawTreeNode* findNode(const std::vector<app::RawTreeNode>& nodes, const std::string& text) {
    for (const auto& n : nodes) {
        if (n.Text == text) return &n;
        if (const auto* inner = findNode(n.Children, text)) return inner;
    }
    return nullptr;
}

std::vector<std::string> texts(const std::vector<app::RawTreeNode>& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes) out.push_back(n.Text);
    return out;
}

std::string fileSha(const std::filesystem::path& p) { return sha256Hex(ReadWholeFile(p)); }

class RawRecoveryTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::Platform> os = platform::makeLinuxPlatform();
    raw::SizeTables sizes;
    ScriptedUi ui;
    app::EventLog log;
    TempDir tmp;
};

// Every group is listed with the number of hits of the scan in it, each type with hits under
// its group (camera makers under their vendor word). Every file the generator placed and the
// manifest says is found is a row of its type's node, numbered in the order the scan found the
// hits of that type, with the size the manifest gives. (The scan may find more than the
// manifest describes: a file overwritten by another can still start a hit.)
TEST_F(RawRecoveryTest, TreeAndRowsFollowTheManifest) {
    for (const char* name : {"carve/pictures.json", "carve/documents.json"}) {
        SCOPED_TRACE(name);
        BRENVALE_REQUIRE_FIXTURE(manifestPath, name);
        auto c = carve(*os, manifestPath, sizes);
        app::RawRecoveryModel model(*c->raw);

        std::map<int, int> perGroup;
        std::map<std::pair<int, int>, int> perType;
        for (const auto& h : c->raw->RawFiles) {
            ++perGroup[h.MajorType];
            ++perType[{h.MajorType, h.MinorType}];
        }
        EXPECT_EQ(model.TotalText(), fmt::format("Total: {} records", c->raw->RawFiles.size()));
        ASSERT_EQ(model.Tree().size(), 6u);
        for (int g = 0; g < 6; ++g) {
            EXPECT_EQ(model.Tree()[static_cast<std::size_t>(g)].Text, fmt::format("{} - {}", raw::GroupCaption(g), perGroup[g]));
            EXPECT_EQ(model.Tree()[static_cast<std::size_t>(g)].Image, g * 2);
        }

        // The manifest's files by extension: where each lies and its size.
        std::map<std::string, std::map<std::int64_t, std::int64_t>> placed;
        for (const auto& f : c->manifest["files"]) {
            if (!f["expect"]["found"].get<bool>()) continue;
            const auto& size = f["expect"]["size"];
            placed[f["expect"]["ext"].get<std::string>()][f["lba"].get<std::int64_t>()] =
                size.is_null() ? raw::kUnknownSize : size.get<std::int64_t>();
        }
        const auto unique = unambiguousExtensions();
        int checked = 0;
        for (const auto& [ext, files] : placed) {
            const auto it = unique.find(ext);
            if (it == unique.end()) continue;
            SCOPED_TRACE(ext);
            const raw::FileTypeInfo& t = *it->second;
            const int n = perType[{t.MajorType, t.MinorType}];
            const app::RawTreeNode* node = findNode(model.Tree(), fmt::format("{} - {}", t.Caption, n));
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(node->Data, (std::uint32_t{t.MajorType} << 16) | (t.MinorType + 1u));
            EXPECT_EQ(node->Image, app::RawTypeImage(t.MajorType));
            if (*t.Vendor) {
                // Under its vendor node, which sits under the Graphics group.
                bool under = false;
                for (const auto& v : model.Tree()[2].Children) {
                    if (v.Data != app::kRawVendorData || v.Vendor != t.Vendor) continue;
                    EXPECT_EQ(v.Text.rfind(std::string(t.Vendor) + " - ", 0), 0u);
                    for (const auto& k : v.Children) under = under || &k == node;
                }
                EXPECT_TRUE(under);
            }
            const auto listing = model.ListNode(*node);
            EXPECT_TRUE(listing.Changed);
            EXPECT_EQ(listing.LargeIcons, t.MajorType == 2);
            ASSERT_EQ(listing.Rows.size(), static_cast<std::size_t>(n));
            std::string upper = ext;
            for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            std::map<std::int64_t, std::int64_t> listed;
            for (std::size_t i = 0; i < listing.Rows.size(); ++i) {
                const auto& row = listing.Rows[i];
                EXPECT_EQ(row.Caption, fmt::format("{}_{}.{}", upper, i + 1, ext));
                EXPECT_EQ(row.TypeText, t.Caption);
                EXPECT_EQ(row.SizeText, row.Hit->Size > 0 ? storage::FormatSize(row.Hit->Size) : "Unknown");
                if (files.count(row.Hit->LBA)) listed[row.Hit->LBA] = row.Hit->Size;
            }
            EXPECT_EQ(listed, files);
            ++checked;
        }
        EXPECT_GE(checked, 5);
    }
}

// 2,500 JPEG hits are split into ranges of 1,000; Canon CR2 and CR3 share a vendor node; a
// hit of unknown size reads "Unknown"; group nodes without hits leave the list alone.
TEST_F(RawRecoveryTest, RangesVendorsAndUnknownSizes) {
    raw::RawScan r(sizes, 512);
    for (int i = 0; i < 2500; ++i) {
        auto hit = raw::MakeHit(2, 2, "jpg", 100 + i);
        hit.Size = 1000 + i;
        r.RawFiles.push_back(hit);
    }
    auto cr2 = raw::MakeHit(2, 7, "cr2", 5000);
    cr2.Size = raw::kUnknownSize;
    r.RawFiles.push_back(cr2);
    r.RawFiles.push_back(raw::MakeHit(2, 21, "cr3", 6000));
    app::RawRecoveryModel model(r);

    const auto& graphics = model.Tree()[2];
    EXPECT_EQ(graphics.Text, "Graphics - 2502");
    EXPECT_THAT(texts(graphics.Children), ElementsAre("JPEG Graphic Files ( .jpg .jpeg) - 2500", "Canon - 2"));
    const auto& jpeg = graphics.Children[0];
    EXPECT_THAT(texts(jpeg.Children), ElementsAre("0-999", "1000-1999", "2000-2499"));
    EXPECT_TRUE(model.ListNode(jpeg).Changed);
    EXPECT_TRUE(model.ListNode(jpeg).Rows.empty());
    const auto third = model.ListNode(jpeg.Children[2]);
    ASSERT_EQ(third.Rows.size(), 500u);
    EXPECT_EQ(third.Rows.front().Caption, "JPG_2001.jpg");
    EXPECT_EQ(third.Rows.back().Caption, "JPG_2500.jpg");
    EXPECT_EQ(third.Rows.front().Hit->LBA, 2100);

    const auto& canon = graphics.Children[1];
    EXPECT_EQ(canon.Data, app::kRawVendorData);
    EXPECT_THAT(texts(canon.Children),
                ElementsAre("Canon Raw Graphic Files ( .tif .cr2) - 1", "Canon CR3 Raw Graphic Files ( .cr3) - 1"));
    const auto cr2Rows = model.ListNode(canon.Children[0]).Rows;
    ASSERT_EQ(cr2Rows.size(), 1u);
    EXPECT_EQ(cr2Rows[0].Caption, "CR2_1.cr2");
    EXPECT_EQ(cr2Rows[0].SizeText, "Unknown");

    // "Archives - 0" has no children: selecting it leaves the list as it is.
    EXPECT_EQ(model.Tree()[0].Text, "Archives - 0");
    EXPECT_FALSE(model.ListNode(model.Tree()[0]).Changed);
    EXPECT_EQ(model.TotalText(), "Total: 2502 records");
}

TEST_F(RawRecoveryTest, FiltersBySizeAndTypeAndSelectsATypeAtOnce) {
    raw::RawScan r(sizes, 512);
    const std::vector<std::pair<const char*, std::int64_t>> hits{
        {"tif", 400}, {"cr2", 5000}, {"tif", raw::kUnknownSize}, {"tif", 2000}, {"cr2", 100}};
    for (const auto& [ext, size] : hits) {
        auto h = raw::MakeHit(2, 7, ext, 10);
        h.Size = size;
        r.RawFiles.push_back(h);
    }
    app::RawRecoveryModel model(r);
    const auto rows = model.ListNode(model.Tree()[2].Children[0].Children[0]).Rows;
    ASSERT_EQ(rows.size(), 5u);
    auto captions = [](const std::vector<app::RawRow>& rs) {
        std::vector<std::string> out;
        for (const auto& x : rs) out.push_back(x.Caption);
        return out;
    };
    struct Case {
        app::RawRowFilter filter;
        std::vector<std::string> kept;
    };
    const std::vector<Case> cases{
        {{}, {"TIF_1.tif", "CR2_2.cr2", "TIF_3.tif", "TIF_4.tif", "CR2_5.cr2"}},
        {{400, 2000, ""}, {"TIF_1.tif", "TIF_4.tif"}},
        {{-1, 399, ""}, {"TIF_3.tif", "CR2_5.cr2"}},  // an unknown size counts as 0
        {{1, -1, "CR2"}, {"CR2_2.cr2", "CR2_5.cr2"}},
        {{6000, -1, ""}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(captions(app::RawRecoveryModel::FilterRows(rows, c.filter)), c.kept);
    EXPECT_THAT(app::RawRecoveryModel::SameTypeRows(rows, 1), ElementsAre(1u, 4u));
    EXPECT_TRUE(app::RawRecoveryModel::SameTypeRows(rows, 9).empty());
    EXPECT_THAT(app::RawRecoveryModel::RowExtensions(rows), ElementsAre("cr2", "tif"));
}

// Recovering every picture of a type: the counters, the status texts, the event log, and
// files byte for byte the originals the generator placed.
TEST_F(RawRecoveryTest, RecoveredPicturesAreTheOriginals) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "carve/pictures.json");
    auto c = carve(*os, manifestPath, sizes);
    app::RawRecoveryModel model(*c->raw);
    std::vector<app::RawRow> rows;
    for (const auto& group : model.Tree()) {
        for (const auto& t : group.Children) {
            if (t.Text.rfind("JPEG Graphic Files", 0) == 0 || t.Text.rfind("PNG Graphic Files", 0) == 0) {
                const auto listed = model.ListNode(t).Rows;
                rows.insert(rows.end(), listed.begin(), listed.end());
            }
        }
    }
    ASSERT_FALSE(rows.empty());
    const auto dest = tmp.file("out");
    ui.folders = {dest};
    std::string folder = "/start";
    app::RawRecoverCommand command(ui, log, *os);
    ASSERT_TRUE(command.Run(*c->scan, sizes, rows, folder));
    EXPECT_EQ(folder, dest);
    EXPECT_THAT(ui.folderInitialDirs, ElementsAre("/start"));
    const auto& s = command.Summary();
    EXPECT_EQ(s.numProcessed, static_cast<int>(rows.size()));
    EXPECT_EQ(s.numRecovered, static_cast<int>(rows.size()));
    EXPECT_EQ(s.numFailed, 0);
    ASSERT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.statusTexts.front(), fmt::format(" Recovering: 1 of {}", rows.size()));
    EXPECT_EQ(ui.statusTexts.back(), fmt::format(" Recovered: {} files", rows.size()));
    ASSERT_EQ(log.Entries().size(), 2u);
    EXPECT_EQ(log.Entries()[0].Event, "Raw Recovery");
    EXPECT_THAT(log.Entries()[1].Description, HasSubstr(fmt::format("Recovered Files: {}", rows.size())));

    int compared = 0;
    for (const auto& row : rows) {
        for (const auto& f : c->manifest["files"]) {
            if (f["lba"].get<std::int64_t>() != row.Hit->LBA || !f["expect"].value("recovers_whole", false)) continue;
            SCOPED_TRACE(row.Caption);
            EXPECT_EQ(fileSha(std::filesystem::path(dest) / row.Caption), fileSha(c->dir / f["sample"].get<std::string>()));
            ++compared;
        }
    }
    EXPECT_GE(compared, 4);
}

// Stop ends the run before its next file and the summary still shows; a destination on the
// scanned object is refused and the picker opens again; cancelling writes nothing.
TEST_F(RawRecoveryTest, StopRefusedDestinationAndCancel) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "carve/documents.json");
    auto c = carve(*os, manifestPath, sizes);
    app::RawRecoveryModel model(*c->raw);
    std::vector<app::RawRow> rows;
    for (const auto& t : model.Tree()[1].Children) {
        const auto listed = model.ListNode(t).Rows;
        rows.insert(rows.end(), listed.begin(), listed.end());
    }
    ASSERT_GE(rows.size(), 3u);
    app::RawRecoverCommand command(ui, log, *os);
    int pumps = 0;
    ui.onPump = [&] {
        if (++pumps == 3) command.Stop();
    };
    ui.folders = {tmp.file("stopped")};
    std::string folder;
    ASSERT_TRUE(command.Run(*c->scan, sizes, rows, folder));
    EXPECT_EQ(command.Summary().numProcessed, 2);
    EXPECT_EQ(command.Summary().outcome, app::RecoveryOutcome::Stopped);
    EXPECT_EQ(ui.summaries.size(), 1u);
    EXPECT_EQ(ui.statusTexts.back(), " Recovered: 2 files");
    ui.onPump = {};

    // Cancelled picker, and nothing selected: nothing happens.
    EXPECT_FALSE(command.Run(*c->scan, sizes, rows, folder));
    EXPECT_FALSE(command.Run(*c->scan, sizes, {}, folder));
    EXPECT_EQ(ui.summaries.size(), 1u);
}

TEST_F(RawRecoveryTest, PreviewBytesComeFromTheHitsPlace) {
    BRENVALE_REQUIRE_FIXTURE(manifestPath, "carve/pictures.json");
    auto c = carve(*os, manifestPath, sizes);
    const auto image = ReadWholeFile(c->dir / c->manifest["image"].get<std::string>());
    int checked = 0;
    for (const auto& hit : c->raw->RawFiles) {
        const std::string ext(hit.Ext());
        SCOPED_TRACE(ext + " at " + std::to_string(hit.LBA));
        const auto at = static_cast<std::size_t>(hit.LBA) * 512;
        // The hex view: the first min(Size, 64 KiB) bytes where the hit starts.
        const auto hex = app::HexPreviewBytes(*c->scan, hit);
        const std::size_t want = hit.Size > 0 && hit.Size < 65536 ? static_cast<std::size_t>(hit.Size) : 65536;
        ASSERT_EQ(hex.size(), std::min(want, image.size() - at));
        EXPECT_TRUE(std::equal(hex.begin(), hex.end(), image.begin() + static_cast<std::ptrdiff_t>(at)));
        EXPECT_EQ(app::HexPreviewCaption(hit, true), "Hex preview: " + ext);

        const auto thumb = app::ThumbnailBytes(*c->scan, *c->raw, hit);
        if (ext == "jpg" || ext == "png" || ext == "gif" || ext == "bmp") {
            ASSERT_EQ(thumb.Kind, app::PictureKind::Encoded);
            EXPECT_EQ(thumb.QuarterScale, ext == "jpg");
            // A picture of known length is read whole, and only that.
            if (hit.Size > 0) {
                ASSERT_EQ(thumb.Bytes.size(), static_cast<std::size_t>(hit.Size));
                EXPECT_TRUE(std::equal(thumb.Bytes.begin(), thumb.Bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at)));
            }
            ++checked;
        } else if (ext == "psd" || ext == "tif") {
            EXPECT_EQ(thumb.Kind, app::PictureKind::None);
        }
    }
    EXPECT_GE(checked, 8);
    EXPECT_EQ(app::HexPreviewCaption(c->raw->RawFiles.front(), false), "Cannot read the file content");
}

TEST(RawPreviewText, HexDumpAndThumbnailPlacement) {
    std::vector<std::byte> bytes;
    for (int i = 0; i < 20; ++i) bytes.push_back(static_cast<std::byte>(0x41 + i));
    bytes[3] = std::byte{0x00};
    EXPECT_EQ(app::HexDumpText(bytes),
              "00000000  41 42 43 00 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50  ABC.EFGHIJKLMNOP\n"
              "00000010  51 52 53 54                                       QRST\n");
    EXPECT_EQ(app::HexDumpText({}), "");
    struct Case {
        int w, h;
        app::ThumbPlacement want;
    };
    for (const Case& c : {Case{190, 95, {0, 23, 95, 48}}, Case{10, 10, {0, 0, 95, 95}}, Case{1000, 1, {0, 47, 95, 1}},
                          Case{0, 10, {0, 0, 0, 0}}}) {
        const auto p = app::PlaceThumbnail(c.w, c.h);
        EXPECT_EQ(std::tie(p.X, p.Y, p.Width, p.Height), std::tie(c.want.X, c.want.Y, c.want.Width, c.want.Height))
            << c.w << "x" << c.h;
    }
    EXPECT_TRUE(app::IsPictureExt("gif"));
    EXPECT_FALSE(app::IsPictureExt("tif"));
    EXPECT_TRUE(app::IsCameraRawExt("nef"));
}

// The command refuses before an advanced scan has completed, and opens the window after.
TEST_F(RawRecoveryTest, WindowOpensOnlyAfterACompletedAdvancedScan) {
    BRENVALE_REQUIRE_FIXTURE(image, "demo.img");
    app::Config config;
    app::Shell shell(*os, ui, log, config);
    shell.Start({}, {});
    ASSERT_TRUE(shell.LoadImageFile(image.string()));
    app::TreeNode* volume = nullptr;
    for (auto& d : shell.Tree().Root()->Children) {
        for (auto& v : d->Children) {
            if (!volume && v->Kind == app::NodeKind::Volume) volume = v.get();
        }
    }
    ASSERT_TRUE(volume);
    ASSERT_TRUE(shell.SelectNode(volume));
    EXPECT_TRUE(shell.Commands().RawRecovery);
    raw::RawScan hits(config.Sizes, 512);
    hits.RawFiles.push_back(raw::MakeHit(2, 2, "jpg", 7));
    shell.RawScanOf = [&](const scan::TUndelete& s) -> raw::RawScan* { return &s == volume->Scan ? &hits : nullptr; };

    EXPECT_FALSE(shell.acRawRecovery());  // no advanced scan yet
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].second, app::kRawNeedsAdvancedScan);
    EXPECT_THAT(ui.messages[0].second, HasSubstr("please perform an \"Advanced Recovery\"\rprocedure"));
    EXPECT_TRUE(ui.rawWindows.empty());

    volume->Scan->FAdvScaned = true;
    EXPECT_TRUE(shell.acRawRecovery());
    EXPECT_THAT(ui.rawWindows, ElementsAre(1u));

    // Another volume without results is refused again.
    shell.RawScanOf = [](const scan::TUndelete&) -> raw::RawScan* { return nullptr; };
    EXPECT_FALSE(shell.acRawRecovery());
    EXPECT_EQ(ui.messages.size(), 2u);
}

// "Lost Files by Type" has a child per listed extension; opened after a scan, each lists the
// deleted files of its extension from every folder of that volume.
TEST_F(RawRecoveryTest, LostFilesByTypeListsDeletedFilesOfEachExtension) {
    BRENVALE_REQUIRE_FIXTURE(image, "demo.img");
    BRENVALE_REQUIRE_FIXTURE(manifest, "demo.p1.manifest.tsv");
    app::Config config;
    config.LostFileExtensions = {"jpg", "csv"};
    config.ExpandLostFilesNode = false;
    app::Shell shell(*os, ui, log, config);
    shell.Start({}, {});
    app::TreeNode* lost = shell.Tree().FileTypesNode();
    ASSERT_TRUE(lost);
    EXPECT_FALSE(lost->Expanded);
    ASSERT_EQ(lost->Children.size(), 2u);
    EXPECT_EQ(app::LostFileExtensionOf(*lost->Children[0]), "jpg");
    EXPECT_EQ(lost->Children[0]->Text, app::ExtensionEntryText("jpg"));
    EXPECT_THAT(lost->Children[1]->Text, ::testing::EndsWith("(*.csv)"));

    ASSERT_TRUE(shell.LoadImageFile(image.string()));
    app::TreeNode* photos = nullptr;
    for (auto& d : shell.Tree().Root()->Children) {
        for (auto& v : d->Children) {
            if (v->Text.rfind("PHOTOS", 0) == 0) photos = v.get();
        }
    }
    ASSERT_TRUE(photos);
    ASSERT_TRUE(shell.SelectNode(photos));
    shell.acNormalScan();
    ASSERT_TRUE(shell.SelectNode(lost->Children[0].get()));

    std::multiset<std::uint64_t> want;
    for (const auto& row : loadManifest(manifest)) {
        const bool jpg = row.path.size() > 4 && (row.path.ends_with(".JPG") || row.path.ends_with(".jpg"));
        if (row.type == "file" && row.status == "deleted" && jpg) want.insert(row.size);
    }
    std::multiset<std::uint64_t> got;
    for (const auto& r : shell.Rows()) got.insert(r.Size);
    EXPECT_EQ(got, want);
    EXPECT_THAT(ui.statusTexts, ::testing::Contains(" Preparing file list for \"csv\" files"));

    // The extensions change: "csv" goes, "txt" comes, and its list is filled at once.
    config.LostFileExtensions = {"jpg", "txt"};
    shell.LostFileTypesChanged();
    ASSERT_EQ(lost->Children.size(), 2u);
    EXPECT_EQ(app::LostFileExtensionOf(*lost->Children[1]), "txt");
    ASSERT_TRUE(shell.SelectNode(lost->Children[1].get()));
    ASSERT_EQ(shell.Rows().size(), 1u);  // the deleted letter; the live report is not lost
    EXPECT_EQ(shell.Rows()[0].Size, 2600u);
}

// The two tabs of "Options" that belong to raw recovery: their checks and what OK stores.
TEST(FileTypeOptions, ExtensionsAreCheckedAndLimitedToFive) {
    app::Config config;
    app::FileTypeOptions o(config);
    struct Case {
        const char* text;
        std::optional<std::string> refusal;
    };
    const std::vector<Case> cases{
        {"MP3", std::nullopt},  {"  wav ", std::nullopt},
        {"*.mp3", app::kInvalidExtension}, {".mp3", app::kInvalidExtension}, {"a/b", app::kInvalidExtension},
        {"a\\b", app::kInvalidExtension},  {"mp3", "Extension name \"mp3\" already exists."},
        {"   ", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto r = o.AddExtension(c.text);
        EXPECT_EQ(r ? std::optional<std::string>(r->Text) : std::nullopt, c.refusal) << c.text;
        if (r) {
            EXPECT_EQ(r->Caption, "Error");
        }
    }
    EXPECT_THAT(o.Extensions(), ElementsAre("mp3", "wav"));
    for (const char* e : {"a", "b", "c"}) EXPECT_FALSE(o.AddExtension(e));
    EXPECT_FALSE(o.CanAdd());
    EXPECT_FALSE(o.AddExtension("sixth"));
    EXPECT_EQ(o.Extensions().size(), 5u);
    o.RemoveExtensions({4, 0, 4});
    EXPECT_THAT(o.Extensions(), ElementsAre("wav", "a", "b"));
    EXPECT_TRUE(o.CanAdd());
    o.ExpandNode = false;
    o.Store(config);
    EXPECT_THAT(config.LostFileExtensions, ElementsAre("wav", "a", "b"));
    EXPECT_FALSE(config.ExpandLostFilesNode);
}

TEST(FileTypeOptions, SizesAreCheckedAgainstEachOtherAndTheLargestMaximum) {
    app::Config config;
    app::FileTypeOptions o(config);
    ASSERT_EQ(o.Rows().size(), 59u);
    EXPECT_EQ(o.Rows()[0].Caption, "RAR Compression File ( .rar)");
    EXPECT_EQ(o.Rows()[0].DefaultMB, 64);
    EXPECT_EQ(o.Rows()[0].MaxMB, 200);
    struct Case {
        const char* def;
        const char* max;
        std::optional<std::string> refusal;
    };
    const std::vector<Case> cases{
        {"", "10", "Invalid input data."},
        {"10", "", "Invalid input data."},
        {"20", "10", "\"Default Size\" cannot beyond \"Max Size\"."},
        {"10", "251", "\"Max Size\" cannot beyond 250M."},
        {"250", "250", std::nullopt},
        {"3", "7", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto r = o.ApplySizes(0, c.def, c.max);
        EXPECT_EQ(r ? std::optional<std::string>(r->Text) : std::nullopt, c.refusal) << c.def << "/" << c.max;
    }
    EXPECT_EQ(o.Rows()[0].DefaultMB, 3);
    EXPECT_EQ(o.Rows()[0].MaxMB, 7);
    // Nothing is stored before OK.
    EXPECT_EQ(config.Sizes.DefaultSize[0], 64 * raw::kMiB);
    o.Store(config);
    EXPECT_EQ(config.Sizes.DefaultSize[0], 3 * raw::kMiB);
    EXPECT_EQ(config.Sizes.MaxSize[0], 7 * raw::kMiB);
    // The ceiling stays until the next start.
    EXPECT_EQ(config.Sizes.LargestMaxSize, 250 * raw::kMiB);
}

}  // namespace
}  // namespace brenvale::test
