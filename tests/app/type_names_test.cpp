// The "Type" column: folders, names without an extension, the built-in table, unknown
// extensions, and the cache that answers repeated extensions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/type_names.h"

namespace brenvale::app {
namespace {

TEST(TypeNames, NamesByExtension) {
    struct Case {
        const char* name;
        bool folder;
        const char* type;
    };
    const std::vector<Case> cases = {
        {"Documents", true, "File folder"},
        {"archive.zip", true, "File folder"},  // a folder named like a file is still a folder
        {"README", false, "File"},
        {"trailing.", false, "File"},
        {"notes.txt", false, "Text Document"},
        {"photo.jpg", false, "JPEG image"},
        {"photo.jpeg", false, "JPEG image"},
        {"PHOTO.JPG", false, "JPEG image"},
        {"Report.PdF", false, "PDF Document"},
        {"backup.tar.gz", false, "GZIP archive"},  // the text after the last dot
        {"setup.exe", false, "Application"},
        {"libc.so", false, "Shared library"},
        {"a", false, "File"},
        {"x.a", false, "Static library"},        // first entry of the table
        {"disk.zst", false, "Zstandard archive"},  // last entry of the table
        {"data.xyz", false, "XYZ File"},
        {"data.XyZ", false, "XYZ File"},
        {".profile", false, "PROFILE File"},
        {"weird.t\xC3\xA9x", false, "T\xC3\xA9X File"},  // only ASCII letters change case
    };
    TypeNames names;
    for (const Case& c : cases) EXPECT_EQ(names.TypeNameOf(c.name, c.folder), c.type) << c.name;
}

TEST(TypeNames, KnownTypeNameNeedsTheExactLowerCaseExtension) {
    EXPECT_EQ(KnownTypeName("docx"), "Word Document");
    EXPECT_EQ(KnownTypeName("DOCX"), "");
    EXPECT_EQ(KnownTypeName("doc "), "");
    EXPECT_EQ(KnownTypeName(""), "");
    EXPECT_EQ(KnownTypeName("zzz"), "");
}

TEST(TypeNames, CacheKeepsCaseVariantsAndNoExtensionApart) {
    // The cache key is the lower-cased extension, "." for none: a file named "txt" or a name
    // ending in "." must not pick up the entry of ".txt", nor the other way round.
    TypeNames names;
    EXPECT_EQ(names.TypeNameOf("A.TXT", false), "Text Document");
    EXPECT_EQ(names.TypeNameOf("txt", false), "File");
    EXPECT_EQ(names.TypeNameOf("b.txt", false), "Text Document");
    EXPECT_EQ(names.TypeNameOf("c.", false), "File");
    EXPECT_EQ(names.TypeNameOf("d.qqq", false), "QQQ File");
    EXPECT_EQ(names.TypeNameOf("e.QQQ", false), "QQQ File");
    EXPECT_EQ(names.TypeNameOf("f", true), "File folder");
    EXPECT_EQ(names.TypeNameOf("g.qqq", false), "QQQ File");
}

}  // namespace
}  // namespace brenvale::app
