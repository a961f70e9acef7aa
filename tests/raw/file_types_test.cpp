// The file type catalogue and the size tables built from it.

#include "raw/file_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace brenvale::raw {
namespace {

TEST(FileTypeCatalogue, GroupsHoldTheirDefinedTypesInOrder) {
    const auto catalogue = FileTypeCatalogue();
    ASSERT_EQ(catalogue.size(), 59u);
    const int defined[kMajorTypes] = {6, 11, 22, 5, 4, 11};
    for (int major = 0; major < kMajorTypes; ++major) {
        SCOPED_TRACE(major);
        EXPECT_EQ(DefinedTypeCount(major), defined[major]);
        EXPECT_STRNE(GroupCaption(major), "");
        for (int minor = 0; minor < kMinorTypes; ++minor) {
            const FileTypeInfo* t = FindFileType(major, minor);
            ASSERT_EQ(t != nullptr, minor < defined[major]) << minor;
            if (!t) continue;
            EXPECT_EQ(t->MajorType, major);
            EXPECT_EQ(t->MinorType, minor);
            EXPECT_LE(t->DefaultSizeMB, t->MaxSizeMB) << t->Caption;
        }
    }
    std::set<std::string> captions;
    for (const auto& t : catalogue) captions.insert(t.Caption);
    EXPECT_EQ(captions.size(), catalogue.size()) << "every caption names one type";

    EXPECT_EQ(DefinedTypeCount(6), 0);
    EXPECT_EQ(DefinedTypeCount(-1), 0);
    EXPECT_STREQ(GroupCaption(6), "");
    EXPECT_EQ(FindFileType(-1, 0), nullptr);
    EXPECT_EQ(FindFileType(0, -1), nullptr);
}

TEST(FileTypeCatalogue, RowsAsShown) {
    struct Case {
        int major, minor;
        const char* caption;
        const char* vendor;
        const char* ext;
        int defaultMB, maxMB;
    };
    const Case cases[] = {
        {0, 0, "RAR Compression File ( .rar)", "", "rar", 64, 200},
        {1, 10, "PowerPoint 2007 Presentation ( .pptx .pptm .potx .potm)", "", "pptx", 32, 100},
        {2, 4, "Bentley Microstation Drawings ( .dng)", "Bentley", "dng", 16, 64},
        {2, 8, "Kodak Raw Graphic Files ( .dcr)", "Kodak", "", 16, 250},
        {2, 15, "SamSung Raw Graphic Files ( .dng)", "SamSung", "", 32, 250},
        {2, 21, "Canon CR3 Raw Graphic Files ( .cr3)", "Canon", "cr3", 32, 250},
        {3, 3, "Windows Address Book ( .wab)", "", "wab", 4, 16},
        {4, 3, "Microsoft Money ( .mny)", "", "mny", 8, 32},
        {5, 2, "CATIA V5 Part ( .CATPart)", "", "CATPart", 16, 200},
        {5, 10, "Proteus Project ( .pdsprj)", "", "pdsprj", 4, 16},
    };
    for (const Case& c : cases) {
        const FileTypeInfo* t = FindFileType(c.major, c.minor);
        ASSERT_NE(t, nullptr) << c.caption;
        EXPECT_STREQ(t->Caption, c.caption);
        EXPECT_STREQ(t->Vendor, c.vendor) << c.caption;
        EXPECT_STREQ(t->Ext, c.ext) << c.caption;
        EXPECT_EQ(t->DefaultSizeMB, c.defaultMB) << c.caption;
        EXPECT_EQ(t->MaxSizeMB, c.maxMB) << c.caption;
    }
    EXPECT_STREQ(GroupCaption(3), "E-Mail Files");
    EXPECT_STREQ(GroupCaption(5), "CAD/3D Design");
}

TEST(SizeTables, DefaultsAndCeiling) {
    SizeTables t;
    for (int major = 0; major < kMajorTypes; ++major) {
        for (int minor = 0; minor < kMinorTypes; ++minor) {
            const FileTypeInfo* info = FindFileType(major, minor);
            const int i = SizeIndex(major, minor);
            EXPECT_EQ(t.DefaultSize[i], (info ? info->DefaultSizeMB : 1) * kMiB)
                << major << '/' << minor;
            EXPECT_EQ(t.MaxSize[i], (info ? info->MaxSizeMB : 64) * kMiB) << major << '/' << minor;
        }
    }
    EXPECT_EQ(t.LargestMaxSize, 250 * kMiB);

    t.MaxSize.fill(0);
    t.RecomputeLargest();
    EXPECT_EQ(t.LargestMaxSize, kMiB) << "never below 1 MiB";
    t.MaxSize[SizeIndex(5, 21)] = 300 * kMiB;
    t.RecomputeLargest();
    EXPECT_EQ(t.LargestMaxSize, 300 * kMiB) << "undefined slots count too";

    t.DefaultSize.fill(7);
    t.ResetToDefaults();
    EXPECT_EQ(t.DefaultSize[SizeIndex(0, 0)], 64 * kMiB);
    EXPECT_EQ(t.LargestMaxSize, 250 * kMiB);
}

}  // namespace
}  // namespace brenvale::raw
