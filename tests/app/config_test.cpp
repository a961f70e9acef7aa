// The configuration file: loading in file order up to the first bad value, saving every
// section, the layout values the window applies, and the file's location and first-run copy.

#include "app/config.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <sstream>

#include "platform/paths.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

using app::Config;
using app::ConfigDocument;
constexpr std::int32_t kMiB = raw::kMiB;

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// Every variable in one text, so a mismatch shows which one differs.
std::string Describe(const Config& c) {
    std::ostringstream s;
    s << "expand=" << c.ExpandLostFilesNode << " exts=";
    for (const auto& e : c.LostFileExtensions) s << e << ';';
    s << "\nsizes=";
    const raw::SizeTables defaults;
    for (int i = 0; i < raw::kSizeSlots; ++i) {
        if (c.Sizes.DefaultSize[i] != defaults.DefaultSize[i] ||
            c.Sizes.MaxSize[i] != defaults.MaxSize[i]) {
            s << '[' << i << "]=" << c.Sizes.DefaultSize[i] << '/' << c.Sizes.MaxSize[i] << ' ';
        }
    }
    s << "largest=" << c.Sizes.LargestMaxSize << "\nmethod=" << c.AdvScanMethod
      << " adjq=" << c.AdjustmentQuery << " onlydel=" << c.ShowOnlyDeleted << " recover='" << c.RecoverFolder << "'\nui=" << c.Splitter1
      << ',' << c.Splitter2 << ",'" << c.Columns << "'," << c.RwSplitter1 << ',' << c.RwSplitter2
      << ",'" << c.RwColumns << "'\nscan='" << c.CheckpointPath << "','" << c.PartiCheckpointPath
      << "'";
    return s.str();
}

Config Parsed(const std::string& xml, bool* loaded = nullptr, std::string* text = nullptr) {
    ConfigDocument doc;
    EXPECT_TRUE(doc.Parse(xml)) << doc.Error();
    Config c;
    const bool ok = doc.Load(c);
    if (loaded) *loaded = ok;
    if (text) *text = doc.Text();
    return c;
}

// A file that sets every variable to a value other than its default.
const std::string kFullFile = R"(<?xml version="1.0"?>
<Settings>
  <FileTypes expand="false"><Type ext="mp3"/><Type ext="wav"/></FileTypes>
  <RawRecovery>
    <DefaultSize>
      <Type major="0" minor="0" defaultsize="3" maxsize="300"/>
      <Type major="5" minor="21" defaultsize="2" maxsize="5"/>
    </DefaultSize>
  </RawRecovery>
  <AdvScan method="7"/>
  <Misc adjustmentquery="false" showonlydeleted="true" recoverfolder="/home/u/rescued"/>
  <UI splitter1="400" splitter2="100" columns="120,80" rwsplitter1="10" rwsplitter2="20" rwcolumns="1,2"/>
  <Scan checkpointpath="/ck" particheckpointpath="/pk/parti.prc"/>
</Settings>
)";

// The variables kFullFile sets, one step per value, in the order the file is read.
struct Step {
    const char* name;
    std::function<void(Config&)> apply;
};
const std::vector<Step> kSteps = {
    {"expand", [](Config& c) { c.ExpandLostFilesNode = false; }},
    {"ext1", [](Config& c) { c.LostFileExtensions = {"mp3"}; }},
    {"ext2", [](Config& c) { c.LostFileExtensions.push_back("wav"); }},
    {"size0",
     [](Config& c) { c.Sizes.DefaultSize[0] = 3 * kMiB, c.Sizes.MaxSize[0] = 300 * kMiB; }},
    {"size131",
     [](Config& c) { c.Sizes.DefaultSize[131] = 2 * kMiB, c.Sizes.MaxSize[131] = 5 * kMiB; }},
    {"largest", [](Config& c) { c.Sizes.LargestMaxSize = 300 * kMiB; }},
    {"method", [](Config& c) { c.AdvScanMethod = 7; }},
    {"adjustmentquery", [](Config& c) { c.AdjustmentQuery = false; }},
    {"showonlydeleted", [](Config& c) { c.ShowOnlyDeleted = true; }},
    {"recoverfolder", [](Config& c) { c.RecoverFolder = "/home/u/rescued"; }},
    {"splitter1", [](Config& c) { c.Splitter1 = 400; }},
    {"splitter2", [](Config& c) { c.Splitter2 = 100; }},
    {"columns", [](Config& c) { c.Columns = "120,80"; }},
    {"rwsplitter1", [](Config& c) { c.RwSplitter1 = 10; }},
    {"rwsplitter2", [](Config& c) { c.RwSplitter2 = 20; }},
    {"rwcolumns", [](Config& c) { c.RwColumns = "1,2"; }},
    {"checkpointpath", [](Config& c) { c.CheckpointPath = "/ck"; }},
    {"particheckpointpath", [](Config& c) { c.PartiCheckpointPath = "/pk/parti.prc"; }},
};

// The defaults with the steps before `stopAt` applied ("" = all), except those in `skipped`.
Config Expected(const std::string& stopAt, const std::vector<std::string>& skipped) {
    Config c;
    for (const Step& s : kSteps) {
        if (s.name == stopAt) break;
        if (std::find(skipped.begin(), skipped.end(), s.name) == skipped.end()) s.apply(c);
    }
    return c;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(ConfigLoad, ReadsInFileOrderAndStopsAtTheFirstBadValue) {
    struct Case {
        const char* name;
        std::string from, to;              // the change made to kFullFile
        std::string stopAt;                // first step not reached ("" = none)
        std::vector<std::string> skipped;  // steps the file no longer sets
        bool loaded;
    };
    const std::vector<Case> cases = {
        {"complete", "", "", "", {}, true},
        {"FileTypes without expand", R"( expand="false")", "", "expand", {}, false},
        {"expand not a Boolean", R"(expand="false")", R"(expand="maybe")", "expand", {}, false},
        {"expand empty", R"(expand="false")", R"(expand="")", "expand", {}, false},
        {"second Type without ext", R"(<Type ext="wav"/>)", "<Type/>", "ext2", {}, false},
        {"size not a number", R"(defaultsize="2")", R"(defaultsize="2MB")", "size131", {}, false},
        {"size beyond the 32-bit tables",
         R"(maxsize="5")",
         R"(maxsize="2048")",
         "size131",
         {},
         false},
        {"negative size", R"(maxsize="5")", R"(maxsize="-1")", "size131", {}, false},
        {"minor missing", R"(minor="21" )", "", "size131", {}, false},
        {"method missing", R"( method="7")", "", "method", {}, false},
        {"method beyond 32 bits", R"(method="7")", R"(method="2147483648")", "method", {}, false},
        {"adjustmentquery missing",
         R"(adjustmentquery="false" )",
         "",
         "adjustmentquery",
         {},
         false},
        {"showonlydeleted unreadable",
         R"(showonlydeleted="true")",
         R"(showonlydeleted="yes")",
         "showonlydeleted",
         {},
         false},
        {"Misc without showonlydeleted",
         R"( showonlydeleted="true")",
         "",
         "",
         {"showonlydeleted"},
         true},
        {"Misc without recoverfolder", R"( recoverfolder="/home/u/rescued")", "", "", {"recoverfolder"}, true},
        {"splitter2 not a number",
         R"(splitter2="100")",
         R"(splitter2="1OO")",
         "splitter2",
         {},
         false},
        {"rwcolumns missing", R"( rwcolumns="1,2")", "", "rwcolumns", {}, false},
        {"particheckpointpath missing",
         R"( particheckpointpath="/pk/parti.prc")",
         "",
         "particheckpointpath",
         {},
         false},
        {"no UI element",
         R"(<UI splitter1="400" splitter2="100" columns="120,80" rwsplitter1="10" rwsplitter2="20" rwcolumns="1,2"/>)",
         "",
         "",
         {"splitter1", "splitter2", "columns", "rwsplitter1", "rwsplitter2", "rwcolumns"},
         true},
        {"no Scan element",
         R"(<Scan checkpointpath="/ck" particheckpointpath="/pk/parti.prc"/>)",
         "",
         "",
         {"checkpointpath", "particheckpointpath"},
         true},
        {"pairs outside the tables are skipped",
         "<DefaultSize>",
         R"(<DefaultSize><Type major="6" minor="0" defaultsize="9" maxsize="999"/>)"
         R"(<Type major="0" minor="22" defaultsize="9" maxsize="999"/><Type major="-1" minor="3" defaultsize="9" maxsize="999"/>)",
         "",
         {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string xml = c.from.empty() ? kFullFile : Replaced(kFullFile, c.from, c.to);
        bool loaded = false;
        const Config got = Parsed(xml, &loaded);
        EXPECT_EQ(loaded, c.loaded);
        EXPECT_EQ(Describe(got), Describe(Expected(c.stopAt, c.skipped)));
    }
}

TEST(ConfigLoad, ValueForms) {
    struct Case {
        const char* method;
        std::optional<int> value;  // nothing: the load stops there
    };
    for (const Case& c : std::vector<Case>{{"12", 12},
                                           {" 12 ", 12},
                                           {"+12", 12},
                                           {"-3", -3},
                                           {"2147483647", 2147483647},
                                           {"-2147483648", -2147483647 - 1},
                                           {"2147483648", {}},
                                           {"12abc", {}},
                                           {"0x10", {}},
                                           {"1.5", {}},
                                           {"+-1", {}},
                                           {"", {}}}) {
        SCOPED_TRACE(c.method);
        bool loaded = false;
        const Config got =
            Parsed(Replaced(kFullFile, R"(method="7")", std::string("method=\"") + c.method + "\""),
                   &loaded);
        EXPECT_EQ(loaded, c.value.has_value());
        EXPECT_EQ(got.AdvScanMethod, c.value.value_or(Config{}.AdvScanMethod));
        EXPECT_EQ(got.AdjustmentQuery, !c.value.has_value())
            << "read after method only when method was read";
    }
    struct BoolCase {
        const char* expand;
        std::optional<bool> value;
    };
    for (const BoolCase& c : std::vector<BoolCase>{{"true", true},
                                                   {"false", false},
                                                   {"TRUE", true},
                                                   {"False", false},
                                                   {" true ", true},
                                                   {"1", true},
                                                   {"-1", true},
                                                   {"0", false},
                                                   {"yes", {}},
                                                   {"t", {}},
                                                   {"", {}}}) {
        SCOPED_TRACE(c.expand);
        const Config got = Parsed(
            Replaced(kFullFile, R"(expand="false")", std::string("expand=\"") + c.expand + "\""));
        EXPECT_EQ(got.ExpandLostFilesNode, c.value.value_or(Config{}.ExpandLostFilesNode));
        EXPECT_EQ(got.LostFileExtensions.size(), c.value ? 2u : 0u);
    }
}

TEST(ConfigLoad, CreatesTheFirstSectionsEmptyUpToTheFailure) {
    // FileTypes is complete; RawRecovery/DefaultSize and AdvScan are created, AdvScan has no
    // method, so Misc is never reached and not created.
    bool loaded = true;
    std::string text;
    const Config got = Parsed(R"(<Root><FileTypes expand="false"/></Root>)", &loaded, &text);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(got.ExpandLostFilesNode);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str()));
    const pugi::xml_node root = doc.document_element();
    EXPECT_STREQ(root.name(), "Root");
    EXPECT_TRUE(root.child("RawRecovery").child("DefaultSize"));
    EXPECT_TRUE(root.child("AdvScan"));
    EXPECT_FALSE(root.child("Misc"));
    EXPECT_FALSE(root.child("UI")) << "the optional sections are never created by a load";
    ASSERT_TRUE(root.child("Enhanced"));
    EXPECT_FALSE(root.child("Enhanced").first_attribute());
}

TEST(ConfigLoad, KeepsAtMostFiveExtensionsAndRefusesBrokenText) {
    const Config got = Parsed(Replaced(
        kFullFile, R"(<Type ext="wav"/>)",
        R"(<Type ext="wav"/><Type ext="a"/><Type ext="b"/><Type ext="c"/><Type ext="d"/>)"));
    EXPECT_THAT(got.LostFileExtensions, ::testing::ElementsAre("mp3", "wav", "a", "b", "c"));
    EXPECT_EQ(got.AdvScanMethod, 7) << "the extra entries are no error";

    ConfigDocument doc;
    EXPECT_FALSE(doc.Parse("<Settings><FileTypes expand=\"true\"></Settings>"));
    EXPECT_FALSE(doc.Error().empty());
    Config c;
    EXPECT_FALSE(doc.Load(c)) << "an unreadable document has nothing to load";
    EXPECT_EQ(Describe(c), Describe(Config{}));
}

TEST(ConfigLoad, SizesAreWholeMiBInBytes) {
    const Config got = Parsed(kFullFile);
    EXPECT_EQ(got.Sizes.DefaultSize[0], 3145728);
    EXPECT_EQ(got.Sizes.MaxSize[0], 300 * kMiB);
    EXPECT_EQ(got.Sizes.LargestMaxSize, 300 * kMiB) << "recomputed after the sizes";
    EXPECT_EQ(got.Sizes.DefaultSize[1], 64 * kMiB)
        << "slots the file does not name keep their defaults";

    // Every maximum set to 0: the ceiling stays at 1 MiB.
    std::string zeros = R"(<S><FileTypes expand="true"/><RawRecovery><DefaultSize>)";
    for (int i = 0; i < raw::kSizeSlots; ++i) {
        zeros += "<Type major=\"" + std::to_string(i / 22) + "\" minor=\"" +
                 std::to_string(i % 22) + R"(" defaultsize="0" maxsize="0"/>)";
    }
    zeros +=
        R"(</DefaultSize></RawRecovery><AdvScan method="1"/><Misc adjustmentquery="true"/></S>)";
    bool loaded = false;
    EXPECT_EQ(Parsed(zeros, &loaded).Sizes.LargestMaxSize, kMiB);
    EXPECT_TRUE(loaded);
}

// --- Saving ---

class ConfigSave : public ::testing::Test {
protected:
    // Saves `config` into a document parsed from `xml` and returns the written file, parsed.
    pugi::xml_node Save(const std::string& xml, const Config& config) {
        ConfigDocument doc;
        EXPECT_TRUE(doc.Parse(xml));
        EXPECT_TRUE(doc.SaveAs(config, tmp.file("Config.xml")));
        EXPECT_EQ(doc.FileName(), tmp.file("Config.xml"));
        EXPECT_TRUE(written.load_file(tmp.file("Config.xml").c_str()));
        return written.document_element();
    }

    TempDir tmp;
    pugi::xml_document written;
};

TEST_F(ConfigSave, AddsUiAndScanWithEveryAttribute) {
    const pugi::xml_node root =
        Save(R"(<Settings><FileTypes expand="true"/><RawRecovery><DefaultSize/></RawRecovery>)"
             R"(<AdvScan method="1"/><Misc adjustmentquery="true"/></Settings>)",
             Config{});
    const std::vector<std::pair<const char*, const char*>> ui = {
        {"splitter1", "289"},   {"splitter2", "263"},   {"columns", ""},
        {"rwsplitter1", "350"}, {"rwsplitter2", "209"}, {"rwcolumns", ""}};
    for (const auto& [name, value] : ui) {
        ASSERT_TRUE(root.child("UI").attribute(name)) << name;
        EXPECT_STREQ(root.child("UI").attribute(name).value(), value) << name;
    }
    EXPECT_TRUE(root.child("Scan").attribute("checkpointpath"));
    EXPECT_TRUE(root.child("Scan").attribute("particheckpointpath"));
    EXPECT_STREQ(root.child("Misc").attribute("showonlydeleted").value(), "false");
    EXPECT_TRUE(root.child("Enhanced"));
}

TEST_F(ConfigSave, RewritesTheListsAndKeepsWhatItDoesNotOwn) {
    Config c;
    c.LostFileExtensions = {"mp3", "wav"};
    c.Sizes.DefaultSize[raw::SizeIndex(1, 3)] = 3 * kMiB;
    c.Sizes.MaxSize[raw::SizeIndex(1, 3)] = 1572864;  // 1.5 MiB is written as 1
    const pugi::xml_node root =
        Save(R"(<Settings><Other keep="1"/><FileTypes expand="true"><Type ext="old"/></FileTypes>)"
             R"(<RawRecovery><DefaultSize><Junk/></DefaultSize></RawRecovery></Settings>)",
             c);
    EXPECT_STREQ(root.child("Other").attribute("keep").value(), "1");
    std::vector<std::string> exts;
    for (const auto& t : root.child("FileTypes").children())
        exts.push_back(std::string(t.name()) + ":" + t.attribute("ext").value());
    EXPECT_THAT(exts, ::testing::ElementsAre("Type:mp3", "Type:wav"));

    int index = 0;
    for (const auto& t : root.child("RawRecovery").child("DefaultSize").children()) {
        SCOPED_TRACE(index);
        ASSERT_STREQ(t.name(), "Type");
        EXPECT_EQ(t.attribute("major").as_int(), index / 22);
        EXPECT_EQ(t.attribute("minor").as_int(), index % 22);
        EXPECT_EQ(t.attribute("defaultsize").as_int(), c.Sizes.DefaultSize[index] / kMiB);
        EXPECT_EQ(t.attribute("maxsize").as_int(), c.Sizes.MaxSize[index] / kMiB);
        ++index;
    }
    EXPECT_EQ(index, 132);
    const std::string text = ReadText(tmp / "Config.xml");
    EXPECT_THAT(text, ::testing::HasSubstr(R"(major="1" minor="3" defaultsize="3" maxsize="1")"));
}

TEST_F(ConfigSave, RoundTripKeepsEveryValue) {
    const Config c = Parsed(kFullFile);
    Save("<Settings/>", c);
    ConfigDocument reopened;
    ASSERT_TRUE(reopened.Open(tmp.file("Config.xml"))) << reopened.Error();
    Config back;
    ASSERT_TRUE(reopened.Load(back)) << reopened.Error();
    EXPECT_EQ(Describe(back), Describe(c));
}

TEST_F(ConfigSave, FailsWithoutAWritableFileAndLeavesNoFileName) {
    ConfigDocument doc;
    EXPECT_FALSE(doc.Save(Config{})) << "a parsed text has no file name";
    ASSERT_TRUE(doc.Parse("<S/>"));
    EXPECT_FALSE(doc.SaveAs(Config{}, tmp.file("missing/Config.xml")));
    EXPECT_FALSE(doc.HasFileName());

    WriteText(tmp / "broken.xml", "<S><FileTypes></S>");
    EXPECT_FALSE(doc.Open(tmp.file("broken.xml")));
    EXPECT_FALSE(doc.HasFileName());
    EXPECT_FALSE(doc.Save(Config{}));
    EXPECT_EQ(ReadText(tmp / "broken.xml"), "<S><FileTypes></S>")
        << "a file that could not be read is not overwritten";
}

// --- The shipped file ---

TEST(ConfigShipped, LoadsFullyToTheDefaultsAndIsWhatTheProgramWrites) {
    // From the source tree: __FILE__ may be relative to the build folder (ccache rewrites paths).
    const auto source = std::filesystem::path(BRENVALE_SOURCE_DIR) / "data/Config.xml";
    ConfigDocument doc;
    ASSERT_TRUE(doc.Open(source.string())) << doc.Error();
    Config c;
    c.AdvScanMethod = 99;  // proves the file sets it
    ASSERT_TRUE(doc.Load(c)) << doc.Error();
    EXPECT_EQ(Describe(c), Describe(Config{}));
    EXPECT_EQ(c.Sizes.LargestMaxSize, 250 * kMiB);

    TempDir tmp;
    ASSERT_TRUE(doc.SaveAs(c, tmp.file("Config.xml")));
    EXPECT_EQ(ReadText(tmp / "Config.xml"), ReadText(source))
        << "saving the shipped defaults changes nothing";

    const auto beside = std::filesystem::path(BRENVALE_CLI_PATH).parent_path() / "data/Config.xml";
    EXPECT_EQ(ReadText(beside), ReadText(source))
        << "the build copies the default beside the programs";
}

// --- Location and first run ---

// Points XDG_CONFIG_HOME at a scratch folder for one test.
class ConfigLocation : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
        ::setenv("XDG_CONFIG_HOME", tmp.path().c_str(), 1);
        std::error_code ec;
        if (std::filesystem::is_directory(platform::ExecutableDirectory() + "/data", ec)) {
            GTEST_SKIP() << "a data folder beside the test program takes the configuration";
        }
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }

    TempDir tmp;
    std::optional<std::string> saved_;
};

TEST_F(ConfigLocation, FirstRunCreatesTheUserFileOnce) {
    const std::string expected = tmp.file("brenvale/Config.xml");
    EXPECT_EQ(app::ConfigFilePath(), expected);
    std::string path, error;
    ASSERT_TRUE(app::EnsureConfigFile(path, error)) << error;
    EXPECT_EQ(path, expected);
    ConfigDocument doc;
    ASSERT_TRUE(doc.Open(path));
    Config c;
    EXPECT_TRUE(doc.Load(c)) << doc.Error();
    EXPECT_EQ(Describe(c), Describe(Config{}));

    WriteText(path, "<mine/>");
    ASSERT_TRUE(app::EnsureConfigFile(path, error));
    EXPECT_EQ(ReadText(path), "<mine/>") << "an existing file is the user's";

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_FALSE(app::EnsureConfigFile(path, error));
    EXPECT_THAT(error, ::testing::HasSubstr("is not a file"));
}

TEST_F(ConfigLocation, CopiesTheFirstShippedDefaultThatExists) {
    const std::string shipped = tmp.file("shipped.xml");
    WriteText(shipped, R"(<Shipped><FileTypes expand="false"/></Shipped>)");
    std::filesystem::permissions(shipped, std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::replace);
    struct Case {
        const char* name;
        std::vector<std::string> candidates;
        bool copied;
    };
    for (const Case& c :
         std::vector<Case>{{"second candidate", {tmp.file("none.xml"), shipped}, true},
                           {"no candidate", {tmp.file("none.xml")}, false}}) {
        SCOPED_TRACE(c.name);
        const std::string target = tmp.file(std::string(c.name) + "/nested/Config.xml");
        std::string error;
        ASSERT_TRUE(app::CreateConfigFile(target, c.candidates, error)) << error;
        if (c.copied) {
            EXPECT_EQ(ReadText(target), ReadText(shipped));
        } else {
            EXPECT_THAT(ReadText(target),
                        ::testing::HasSubstr(
                            R"(<Type major="5" minor="21" defaultsize="1" maxsize="64" />)"));
        }
        const auto perms = std::filesystem::status(target).permissions();
        EXPECT_NE(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none)
            << "later saves must succeed";
    }

    WriteText(tmp / "plain", "x");
    std::string error;
    EXPECT_FALSE(app::CreateConfigFile(tmp.file("plain/Config.xml"), {shipped}, error));
    EXPECT_THAT(error, ::testing::HasSubstr("Cannot create the folder"));
}

// --- Layout ---

TEST(ConfigLayout, SplittersApplyOnlyInsideTheirBounds) {
    const std::vector<std::pair<int, std::optional<int>>> tree = {
        {79, {}}, {80, 80}, {289, 289}, {1499, 1499}, {1500, {}}, {-1, {}}};
    for (const auto& [stored, applied] : tree)
        EXPECT_EQ(app::TreeWidthToApply(stored), applied) << stored;
    const std::vector<std::pair<int, std::optional<int>>> panel = {
        {20, {}}, {21, 21}, {263, 263}, {599, 599}, {600, {}}};
    for (const auto& [stored, applied] : panel)
        EXPECT_EQ(app::PanelHeightToApply(stored), applied) << stored;
}

TEST(ConfigLayout, ColumnWidthsApplyPerColumn) {
    using W = std::vector<std::optional<int>>;
    struct Case {
        std::string columns;
        std::size_t count;
        W widths;
    };
    const std::vector<Case> cases = {
        {"120, abc, 5000, 60", 4, {120, {}, {}, 60}},
        {"120, abc, 5000, 60", 6, {120, {}, {}, 60, {}, {}}},
        {"30,40,50", 2, {30, 40}},
        {" 19 ,20, 1999,2000", 4, {{}, 20, 1999, {}}},
        {"-5,,25", 3, {{}, {}, 25}},
        {"", 3, {{}, {}, {}}},
        {"30", 0, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app::ColumnWidthsToApply(c.columns, c.count), c.widths) << c.columns;

    EXPECT_EQ(app::JoinColumnWidths({}), "");
    EXPECT_EQ(app::JoinColumnWidths({120}), "120");
    EXPECT_EQ(app::JoinColumnWidths({120, 80, 60}), "120,80,60");
    EXPECT_EQ(app::ColumnWidthsToApply(app::JoinColumnWidths({120, 80, 60}), 3), (W{120, 80, 60}));
}

}  // namespace
}  // namespace brenvale::test
