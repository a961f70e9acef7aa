// Recovery of a folder that cannot be created in the destination: the folder's failure is
// reported with its name and each of its files counts as processed and failed.

#include <gmock/gmock.h>
#include <fmt/format.h>

#include <climits>
#include <filesystem>

#include "app/recover_command.h"
#include "app/scripted_ui.h"
#include "scan/scan_harness.h"
#include "scan/volume_builder.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;

std::vector<RawEntry> Named(std::u16string_view longName, RawEntry shortEntry) {
    auto out = LongNameEntries(longName, LongNameChecksum(shortEntry));
    out.push_back(shortEntry);
    return out;
}

TEST(RecoverFolderFailure, AFolderThatCannotBeCreatedFailsWithAllItsFiles) {
    // Root: KEEP.TXT and a folder with a 250-character name holding two files and a subfolder
    // with one more.
    VolumeBuilder v(Fs::Fat16);
    const std::u16string longName(250, u'F');
    auto root = Named(longName, FolderEntry("FFFFFF~1", 10));
    root.push_back(FileEntry("KEEP.TXT", 30, 1));
    v.put(v.root(), 0, root);
    v.setFat(30, v.endOfChain());
    v.makeFolder(10, 0);
    v.put(10, 2, {FileEntry("A.TXT", 31, 1), FileEntry("B.TXT", 32, 1), FolderEntry("SUB", 11)});
    v.makeFolder(11, 10);
    v.put(11, 2, {FileEntry("C.TXT", 33, 1)});
    for (std::uint32_t c : {31u, 32u, 33u}) v.setFat(c, v.endOfChain());
    ScanHarness h(v.bytes());
    ASSERT_EQ(h.scan().NormalScan(1), scan::kScanCompleted);

    // A destination so deep that KEEP.TXT still fits in a path but the long folder does not.
    TempDir tmp;
    fs::path dest = tmp.path();
    const std::size_t target = PATH_MAX - 1 - longName.size() + 8;
    while (dest.string().size() + 1 < target) {
        const std::size_t room = target - dest.string().size() - 1;
        dest /= std::string(std::min<std::size_t>(200, room), 'd');
        fs::create_directory(dest);
    }
    ASSERT_LT(dest.string().size() + 1 + std::string("KEEP.TXT").size(), std::size_t{PATH_MAX});
    ASSERT_GE(dest.string().size() + 1 + longName.size(), std::size_t{PATH_MAX});

    ScriptedUi ui;
    app::EventLog log;
    platform::fake::FakePlatform os;
    app::RecoverCommand command(ui, log, os);
    const auto s = command.Run(h.scan(), {{nullptr, "", true}}, dest.string(), false);

    EXPECT_EQ(s.outcome, app::RecoveryOutcome::Done);
    EXPECT_EQ(s.numProcessed, 4);
    EXPECT_EQ(s.numRecovered, 1);
    EXPECT_EQ(s.numFailed, 3);
    const std::string created = scan::RecoverStatusText(scan::kRecoverCreateError);
    EXPECT_THAT(s.DetailsList, ::testing::UnorderedElementsAre(
                                   fmt::format(app::kRecoverFailedFormat, std::string(250, 'F'), created),
                                   fmt::format(app::kRecoverFailedFormat, "A.TXT", created),
                                   fmt::format(app::kRecoverFailedFormat, "B.TXT", created),
                                   fmt::format(app::kRecoverFailedFormat, "C.TXT", created)));
    EXPECT_TRUE(fs::exists(dest / "KEEP.TXT"));
}

}  // namespace
}  // namespace brenvale::test
