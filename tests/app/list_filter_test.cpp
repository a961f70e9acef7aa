#include <gmock/gmock.h>

#include "app/list_filter.h"
#include "app/path_bar.h"
#include "scan/mid_entry.h"

namespace brenvale::test {
namespace {

using app::FilterResult;
using app::ListRow;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The entries the rows stand for; only their identities matter here.
scan::TMidEntry gEntries[8];

ListRow Row(std::string caption, std::string type, std::string path, int entry, std::uint64_t size = 0) {
    ListRow row;
    row.Caption = std::move(caption);
    row.Data = entry < 0 ? app::RowData() : app::RowData(&gEntries[entry]);
    row.SubItems = {std::move(type), "", std::to_string(size), "", std::move(path)};
    row.Size = size;
    return row;
}

// A search-results list: the last column holds each entry's folder path.
std::vector<ListRow> SearchSnapshot() {
    return {
        Row("Holiday.JPG", "JPEG image", "C:\\pics\\Holiday.JPG", 0, 300),
        Row("logo.png", "PNG image", "", 1, 100),
        Row("Q3.docx", "Word document", "C:\\report\\Q3.docx", 2, 500),
        Row("notes.txt", "Text Document", "D:\\archive\\old.png", 3, 100),
        Row("Report summary.pdf", "PDF file", "", 4, 700),
        Row("\xC3\x84rger.TXT", "Text Document", "", 5, 200),  // "Ärger.TXT"
        Row("data.bin", "Report Document", "", 6, 400),         // only its Type column says "report"
    };
}

app::RowSet Entries(std::initializer_list<int> indexes) {
    app::RowSet set;
    for (int i : indexes) set.insert(app::RowData(&gEntries[i]));
    return set;
}

// The data of the rows a result selects again.
app::RowSet SelectedData(const std::vector<ListRow>& snapshot, const FilterResult& result) {
    app::RowSet set;
    for (auto pos : result.Selected) set.insert(snapshot[result.Rows.at(pos)].Data);
    return set;
}

TEST(ListFilter, KeepsRowsWhoseNameOrPathColumnMatches) {
    const struct {
        const char* text;
        std::vector<std::size_t> kept;
    } cases[] = {
        {"*.jpg,*.png", {0, 1, 3}},             // either pattern, the name or the path column
        {"  *.JPG , , *.png  ", {0, 1, 3}},     // trimmed, lower-cased, empty patterns skipped
        {"report", {2, 4}},                     // Q3.docx through C:\report\Q3.docx
        {"REPORT ", {2, 4}},
        {"q?.docx", {2}},
        {"c:\\report\\*", {2}},                 // a pattern matches the whole path
        {"docx c:\\report", {2}},               // name and path are joined by a blank
        {"pics\\holiday", {0}},
        {"document", {}},                       // the Type column is never searched
        {"*document*", {}},
        {"\xC3\xA4rger", {5}},                  // "ärger"
        {"\xC3\x84RGER", {5}},                  // "ÄRGER"
        {"zzz", {}},
        {"*", {0, 1, 2, 3, 4, 5, 6}},
        {"", {0, 1, 2, 3, 4, 5, 6}},
        {" \t ", {0, 1, 2, 3, 4, 5, 6}},
    };
    const auto snapshot = SearchSnapshot();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = app::ApplyFilter(snapshot, c.text, {});
        ASSERT_TRUE(result.has_value());
        EXPECT_THAT(result->Rows, ElementsAreArray(c.kept));
        EXPECT_THAT(result->Selected, IsEmpty());
    }
}

TEST(ListFilter, EmptySnapshotLeavesTheListAlone) {
    EXPECT_FALSE(app::ApplyFilter({}, "", Entries({0})).has_value());
    EXPECT_FALSE(app::ApplyFilter({}, "*.jpg", {}).has_value());
    app::ListFilter filter;
    filter.SetSnapshot(SearchSnapshot());
    filter.SetText("report");
    filter.Reset();
    EXPECT_THAT(filter.Snapshot(), IsEmpty());
    EXPECT_EQ(filter.Text(), "");
    EXPECT_FALSE(filter.Apply({}).has_value());
}

TEST(ListFilter, SelectionFollowsTheKeptRows) {
    const auto snapshot = SearchSnapshot();
    // Rows 0, 2 and 3 are selected; the filter keeps 0, 1 and 3, which sit at positions 0, 1, 2.
    auto result = app::ApplyFilter(snapshot, "*.jpg,*.png", Entries({0, 2, 3}));
    ASSERT_TRUE(result.has_value());
    EXPECT_THAT(result->Rows, ElementsAre(0u, 1u, 3u));
    EXPECT_THAT(result->Selected, ElementsAre(0u, 2u));

    // An entry that no row holds, and rows without data, select nothing.
    auto withoutData = snapshot;
    withoutData[1].Data = app::RowData();
    const app::RowSet odd{app::RowData(), app::RowData(&gEntries[7])};
    result = app::ApplyFilter(withoutData, "", odd);
    ASSERT_TRUE(result.has_value());
    EXPECT_THAT(result->Selected, IsEmpty());
}

TEST(ListFilter, ClearingTheBoxRestoresEveryRowAndTheSelectionStillKept) {
    const auto snapshot = SearchSnapshot();
    app::ListFilter filter;
    filter.SetSnapshot(snapshot);
    // Rows 2 and 5 are selected; "report" hides row 5, so only row 2 stays selected.
    filter.SetText("report");
    auto narrowed = filter.Apply(Entries({2, 5}));
    ASSERT_TRUE(narrowed.has_value());
    EXPECT_THAT(narrowed->Rows, ElementsAre(2u, 4u));
    const auto stillSelected = SelectedData(snapshot, *narrowed);
    EXPECT_EQ(stillSelected, Entries({2}));

    filter.SetText("");
    const auto restored = filter.Apply(stillSelected);
    ASSERT_TRUE(restored.has_value());
    EXPECT_THAT(restored->Rows, ElementsAre(0u, 1u, 2u, 3u, 4u, 5u, 6u));
    EXPECT_THAT(restored->Selected, ElementsAre(2u));
}

TEST(ListFilter, SortClicksStartDescendingAndToggleOnTheSameColumn) {
    const struct {
        int click;
        bool ascending;
    } clicks[] = {
        {app::kColSize, false}, {app::kColSize, true}, {app::kColSize, false},
        {app::kColName, false}, {app::kColName, true}, {app::kColSize, false},
    };
    app::ListFilter filter;
    EXPECT_EQ(filter.SortColumn(), app::kNoSortColumn);
    for (std::size_t i = 0; i < std::size(clicks); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(filter.SortClick(clicks[i].click), clicks[i].ascending);
        EXPECT_EQ(filter.SortColumn(), clicks[i].click);
        EXPECT_EQ(filter.SortAscending(), clicks[i].ascending);
    }
    filter.ClearSort();
    EXPECT_EQ(filter.SortColumn(), app::kNoSortColumn);
    EXPECT_FALSE(filter.SortClick(app::kColSize));  // a cleared sort starts over descending
}

TEST(ListFilter, KeptRowsAreSortedAgainWithTheRememberedOrder) {
    const auto snapshot = SearchSnapshot();
    app::ListFilter filter;
    filter.SetSnapshot(snapshot);
    filter.SetText("*.txt,*.png,*.jpg");  // keeps 0 (300), 1 (100), 3 (100), 5 (200)
    const auto selected = Entries({0, 3});

    filter.SortClick(app::kColSize);
    filter.SetSortCompare([](const ListRow& a, const ListRow& b) { return a.Size < b.Size; });
    const struct {
        std::vector<std::size_t> rows;
        std::vector<std::size_t> selectedAt;
    } expected[] = {
        {{0, 5, 1, 3}, {0, 3}},  // descending; 1 and 3 (equal sizes) keep the snapshot order
        {{1, 3, 5, 0}, {1, 3}},  // ascending after the second click
    };
    for (const auto& e : expected) {
        const auto result = filter.Apply(selected);
        ASSERT_TRUE(result.has_value());
        EXPECT_THAT(result->Rows, ElementsAreArray(e.rows));
        EXPECT_THAT(result->Selected, ElementsAreArray(e.selectedAt));
        filter.SortClick(app::kColSize);
    }

    filter.ClearSort();  // back to the snapshot order
    const auto unsorted = filter.Apply(selected);
    ASSERT_TRUE(unsorted.has_value());
    EXPECT_THAT(unsorted->Rows, ElementsAre(0u, 1u, 3u, 5u));
    EXPECT_THAT(unsorted->Selected, ElementsAre(0u, 2u));
}

TEST(ListFilter, MarkSortColumnLeavesOneArrowAtMost) {
    const std::string up = app::kSortUpMark, down = app::kSortDownMark;
    const struct {
        std::vector<std::string> before;
        int index;
        bool ascending;
        std::vector<std::string> after;
    } cases[] = {
        {{"Name" + up, "Type", "Size" + down}, 1, true, {"Name", "Type" + up, "Size"}},
        {{"Name" + down, "Type"}, 0, false, {"Name" + down, "Type"}},  // not doubled
        {{"Name" + up, "Type" + down}, 2, true, {"Name", "Type"}},     // past the last column
        {{"Name" + up, "Type"}, -1, false, {"Name", "Type"}},
        {{"Name\xE2\x96\xB2", "A" + up + up}, 0, true, {"Name\xE2\x96\xB2" + up, "A" + up}},  // one blank + arrow per caption
        {{}, 0, true, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        auto captions = cases[i].before;
        app::MarkSortColumn(captions, cases[i].index, cases[i].ascending);
        EXPECT_EQ(captions, cases[i].after);
    }
}

TEST(ListFilter, LowerCaseKeepsMultiByteSequencesWhole) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"ABC xyz 09", "abc xyz 09"},
        {"\xC3\x80\xC3\x9E\xC3\x97", "\xC3\xA0\xC3\xBE\xC3\x97"},          // ÀÞ×  -> àþ× (× has no case)
        {"\xC5\x81\xC3\x93\x44\xC5\xB9", "\xC5\x82\xC3\xB3\x64\xC5\xBA"},  // ŁÓDŹ -> łódź
        {"\xC5\xB8", "\xC3\xBF"},                                          // Ÿ -> ÿ
        {"\xC4\xB0", "\xC4\xB0"},                                          // İ: its lower case is ASCII, kept
        {"\xCE\xA3\xCE\x9F\xCE\xA6", "\xCF\x83\xCE\xBF\xCF\x86"},          // ΣΟΦ -> σοφ
        {"\xD0\x9C\xD0\xAF\xD0\x81", "\xD0\xBC\xD1\x8F\xD1\x91"},          // МЯЁ -> мяё
        {"\xE6\x97\xA5\xE2\x82\xAC\xF0\x9F\x98\x80Z", "\xE6\x97\xA5\xE2\x82\xAC\xF0\x9F\x98\x80z"},  // 日€😀Z
        {"\xC3", "\xC3"},                                                  // cut sequence
        {"\xFF\x41\x80\xC3\x41", "\xFF\x61\x80\xC3\x61"},                  // stray bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(app::LowerText(c.in), c.out);
    }
    EXPECT_EQ(app::FilterText(" \tHoliday.JPG\r\n"), "holiday.jpg");
}

TEST(ListFilter, OnlyAnEmptyBoxAppliesWithoutTheTimer) {
    EXPECT_TRUE(app::ApplyAtOnce(""));
    EXPECT_FALSE(app::ApplyAtOnce(" "));
    EXPECT_FALSE(app::ApplyAtOnce("a"));
    EXPECT_EQ(app::kFilterDelayMs, 120);
}

// A tree path: "My Computer" > "Disk 0" > "C:\" > (a node without text) > "Photos" > "2024".
struct PathTree {
    app::TreeNode root, disk, volume, unnamed, photos, year;
    PathTree() {
        const std::pair<app::TreeNode*, const char*> chain[] = {
            {&root, app::kMyComputerText}, {&disk, "Disk 0"}, {&volume, "C:\\"},
            {&unnamed, ""},               {&photos, "Photos"}, {&year, "2024"}};
        app::TreeNode* parent = nullptr;
        for (auto [node, text] : chain) {
            node->Text = text;
            node->Parent = parent;
            parent = node;
        }
    }
};

TEST(PathBar, ShowsTheNodeAndItsNamedAncestorsRootFirst) {
    PathTree tree;
    const auto nodes = app::ShowPathOf(&tree.year);
    EXPECT_THAT(nodes, ElementsAre(&tree.root, &tree.disk, &tree.volume, &tree.photos, &tree.year));
    EXPECT_THAT(app::ShowPathOf(&tree.root), ElementsAre(&tree.root));
    EXPECT_THAT(app::ShowPathOf(nullptr), IsEmpty());

    app::PathBarModel bar;
    EXPECT_EQ(bar.HintText(), "Current folder");
    bar.SetNodes(nodes);
    EXPECT_THAT(bar.SegmentTexts(), ElementsAre("My Computer", "Disk 0", "C:", "Photos", "2024"));
    EXPECT_EQ(bar.PathText(), "My Computer/Disk 0/C:/Photos/2024");
    EXPECT_EQ(bar.NodeAt(2), &tree.volume);
    EXPECT_EQ(bar.NodeAt(5), nullptr);
    EXPECT_EQ(bar.NodeAt(-1), nullptr);

    bar.ClearNodes();
    EXPECT_THAT(bar.SegmentTexts(), IsEmpty());
    EXPECT_EQ(bar.PathText(), "");
    bar.SetHintText("Elsewhere");
    EXPECT_EQ(bar.HintText(), "Elsewhere");
}

TEST(PathBar, HotSegmentIsForgottenWithThePath) {
    PathTree tree;
    app::PathBarModel bar;
    bar.SetNodes(app::ShowPathOf(&tree.photos));  // 4 segments
    EXPECT_EQ(bar.Hot(), -1);
    EXPECT_TRUE(bar.SetHot(3));
    EXPECT_FALSE(bar.SetHot(3));
    EXPECT_EQ(bar.Hot(), 3);
    EXPECT_TRUE(bar.SetHot(4));  // off the end: none
    EXPECT_EQ(bar.Hot(), -1);
    EXPECT_FALSE(bar.SetHot(-7));
    bar.SetHot(1);
    bar.SetNodes(app::ShowPathOf(&tree.year));
    EXPECT_EQ(bar.Hot(), -1);
}

TEST(PathBar, DropsSegmentsFromTheLeftBehindAnEllipsis) {
    const struct {
        std::vector<int> widths;
        int available;
        std::size_t first;
        bool ellipsis;
    } cases[] = {
        // separator 10, ellipsis 20; all three need 50+10+60+10+70 = 200
        {{50, 60, 70}, 210, 0, false},
        {{50, 60, 70}, 200, 0, false},
        {{50, 60, 70}, 199, 1, true},  // "…\" + 60 + "\" + 70 = 170
        {{50, 60, 70}, 170, 1, true},
        {{50, 60, 70}, 169, 2, true},
        {{50, 60, 70}, 5, 2, true},    // the last segment stays even when it does not fit
        {{5, 100, 100}, 225, 0, false},  // a first segment narrower than "…" fits where "…" would not
        {{5, 100, 100}, 224, 2, true},
        {{500}, 10, 0, false},         // a single segment is never dropped
        {{}, 0, 0, false},
        // a deep path: "…" and the last three of twelve segments
        {std::vector<int>(12, 40), 170, 9, true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto fit = app::FitPathSegments(cases[i].widths, 10, 20, cases[i].available);
        EXPECT_EQ(fit.First, cases[i].first);
        EXPECT_EQ(fit.Ellipsis, cases[i].ellipsis);
    }
}

}  // namespace
}  // namespace brenvale::test
