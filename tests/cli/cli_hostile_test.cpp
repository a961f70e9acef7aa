// brenvale-cli over the fake platform with what disks hold in the wild: a block device
// formatted without a partition table, and names carrying control characters.

#include <gmock/gmock.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_app.h"
#include "scan/volume_builder.h"
#include "storage/device_test_util.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using ::testing::HasSubstr;

struct CliResult {
    int code;
    std::string out, err;
};

CliResult RunCli(platform::fake::FakePlatform& os, std::vector<std::string> args) {
    args.insert(args.begin(), "brenvale-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = cli::Run(static_cast<int>(argv.size()), argv.data(), os, out, err);
    return {code, out.str(), err.str()};
}

TEST(CliHostile, BlockDeviceWithoutATableIsOneVolumeAtSectorZero) {
    for (const Fs fs : {Fs::Fat12, Fs::Fat16, Fs::Fat32, Fs::Exfat}) {
        SCOPED_TRACE(FsName(fs));
        VolumeBuilder v(fs);
        if (fs == Fs::Exfat) {
            v.put(v.root(), 0, ExfatEntries({.name = u"stick.txt", .cluster = 10, .length = 1}));
        } else {
            v.put(v.root(), 0, {FileEntry("STICK.TXT", 10, 1)});
        }
        v.setFat(10, v.endOfChain());
        platform::fake::FakePlatform os;
        // A fixed disk as far as the system says, as many card readers and sticks report.
        os.addDisk("/dev/sdf", v.bytes(), 512, true);
        os.whole = {BlockDevice("sdf")};

        // The same file-system name `info` gives for sector 0.
        const auto info = RunCli(os, {"info", "/dev/sdf", "--json"});
        ASSERT_EQ(info.code, 0) << info.err;
        const std::string fsName = nlohmann::json::parse(info.out)["file_system"];
        const auto parts = RunCli(os, {"partitions", "/dev/sdf", "--json"});
        ASSERT_EQ(parts.code, 0) << parts.err;
        const auto records = nlohmann::json::parse(parts.out)["partitions"];
        const auto atZero = std::count_if(records.begin(), records.end(), [&](const nlohmann::json& r) {
            return r["start"] == 0 && r["file_system"] == fsName;
        });
        EXPECT_EQ(atZero, 1) << parts.out;

        const auto scanned = RunCli(os, {"scan", "/dev/sdf", "--json"});
        ASSERT_EQ(scanned.code, 0) << scanned.err;
        const auto j = nlohmann::json::parse(scanned.out);
        EXPECT_EQ(j["file_system"], fsName);
        ASSERT_EQ(j["entries"].size(), 1u);
        EXPECT_THAT(j["entries"][0]["name"].get<std::string>(), ::testing::StrCaseEq("stick.txt"));
    }
}

// Every byte a terminal acts on, other than the line ends of the output itself.
bool HasControlBytes(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) return true;
    }
    return false;
}

TEST(CliHostile, NamesFromDiskReachTheTerminalEscaped) {
    platform::fake::FakePlatform os;
    TempDir tmp;
    // Files whose names ring the bell, colour the terminal, break the line and start a C1
    // control sequence; each one's data runs past the volume, so recovery names it in a
    // failure line too.
    struct Row {
        std::u16string name;
        std::string escaped;  // how the text output shows the control character
    };
    const std::vector<Row> rows = {
        {u"bell\u0007.txt", "\\x07"},
        {u"esc\u001b[31mred.txt", "\\x1b"},
        {u"two\nlines.txt", "\\x0a"},
        {u"csi\u009b2J.txt", "\\u009b"},
    };
    VolumeBuilder v(Fs::Fat16);
    std::vector<RawEntry> entries;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RawEntry shortEntry = FileEntry(NumberedName('N', i), v.clusterCount() + 1, 3 * 512);
        const auto names = LongNameEntries(rows[i].name, LongNameChecksum(shortEntry));
        entries.insert(entries.end(), names.begin(), names.end());
        entries.push_back(shortEntry);
    }
    v.put(v.root(), 0, entries);
    v.setFat(v.clusterCount() + 1, v.endOfChain());
    os.addDisk("/img/names.img", v.bytes(), 512, false);

    const auto scanned = RunCli(os, {"scan", "/img/names.img"});
    const auto searched = RunCli(os, {"search", "/img/names.img", "--all"});
    const auto recovered = RunCli(os, {"recover", "/img/names.img", "--to", tmp.file("out")});
    ASSERT_EQ(scanned.code, 0) << scanned.err;
    ASSERT_EQ(searched.code, 0) << searched.err;
    ASSERT_EQ(recovered.code, 1) << recovered.err;
    for (const auto* r : {&scanned, &searched, &recovered}) {
        EXPECT_FALSE(HasControlBytes(r->out)) << r->out;
        EXPECT_FALSE(HasControlBytes(r->err)) << r->err;
    }
    // One line per entry after the summary line and the header.
    EXPECT_EQ(std::count(scanned.out.begin(), scanned.out.end(), '\n'), static_cast<long>(rows.size() + 2));
    for (const Row& r : rows) {
        EXPECT_THAT(scanned.out, HasSubstr(r.escaped));
        EXPECT_THAT(searched.out, HasSubstr(r.escaped));
        EXPECT_THAT(recovered.err, HasSubstr(r.escaped));
    }
}

}  // namespace
}  // namespace brenvale::test
