#include "raw/file_types.h"

#include <algorithm>

namespace brenvale::raw {

namespace {

// Sizes of the slots the catalogue gives no value.
constexpr std::int32_t kUndefinedDefaultSize = 1 * kMiB;
constexpr std::int32_t kUndefinedMaxSize = 64 * kMiB;

constexpr std::array<const char*, kMajorTypes> kGroupCaptions = {
    "Archives", "Documents", "Graphics", "E-Mail Files", "Database Files", "CAD/3D Design",
};

constexpr std::array<int, kMajorTypes> kDefinedPerGroup = {6, 11, 22, 5, 4, 11};

// The captions keep their shipped spelling and spacing; the user sees them as they stand.
constexpr std::array<FileTypeInfo, 59> kCatalogue = {{
    {0, 0, "RAR Compression File ( .rar)", "", "rar", "", 64, 200},
    {0, 1, "Zip Compression File ( .zip .jar .afz)", "", "zip", "jar", 64, 200},
    {0, 2, "GZIP Compression File ( .gz .gzip)", "", "gz", "", 16, 64},
    {0, 3, "Cabinet Compression File ( .cab)", "", "cab", "", 32, 100},
    {0, 4, "TAR Archive File ( .tar)", "", "tar", "", 64, 200},
    {0, 5, "BZIP2 Compression File ( .bz2)", "", "bz2", "", 16, 64},

    {1, 0, "Word 97-2003 Document ( .doc .dot .asd)", "", "doc", "", 16, 64},
    {1, 1, "Excel 97-2003 Worksheet ( .xls .xla .xlt)", "", "xls", "", 8, 64},
    {1, 2, "PowerPoint 97-2003 Presentation ( .ppt)", "", "ppt", "", 32, 64},
    {1, 3, "PDF Document ( .pdf .ai)", "", "pdf", "", 32, 200},
    {1, 4, "Rich Text Document ( .rtf)", "", "rtf", "", 4, 32},
    {1, 5, "WordPerfect 6 to 10 ( .wpd .wcm .wpt)", "", "wpd", "", 4, 32},
    {1, 6, "Microsoft Visio Drawing ( .vsd .vss .vst)", "", "vsd", "", 8, 64},
    {1, 7, "Microsoft Compiled HTML Help file ( .chm)", "", "chm", "", 16, 64},
    {1, 8, "Word 2007 Document ( .docx .docm .dotx .dotm)", "", "docx", "", 16, 100},
    {1, 9, "Excel 2007 Worksheet ( .xlsx .xlsm .xltx .xltm .xlsb)", "", "xlsx", "", 8, 100},
    {1, 10, "PowerPoint 2007 Presentation ( .pptx .pptm .potx .potm)", "", "pptx", "", 32, 100},

    {2, 0, "Bitmap ( .bmp)", "", "bmp", "", 32, 200},
    {2, 1, "GIF Graphic Files ( .gif)", "", "gif", "", 8, 64},
    {2, 2, "JPEG Graphic Files ( .jpg .jpeg)", "", "jpg", "", 16, 64},
    {2, 3, "COREL Draw Files ( .cdr)", "Corel", "cdr", "", 16, 64},
    {2, 4, "Bentley Microstation Drawings ( .dng)", "Bentley", "dng", "", 16, 64},
    {2, 5, "PNG Graphic Files ( .png)", "", "png", "", 16, 64},
    {2, 6, "TIFF Graphic Files ( .tif)", "", "tif", "", 48, 250},
    {2, 7, "Canon Raw Graphic Files ( .tif .cr2)", "Canon", "cr2", "tif", 32, 250},
    {2, 8, "Kodak Raw Graphic Files ( .dcr)", "Kodak", "", "", 16, 250},
    {2, 9, "Leica Raw Graphic Files ( .raw)", "Leica", "", "", 32, 250},
    {2, 10, "Mamiya Raw Graphic Files ( .mef)", "Mamiya", "", "", 32, 250},
    {2, 11, "Nikon Raw Graphic Files ( .nef)", "Nikon", "nef", "", 32, 250},
    {2, 12, "Olympus Raw Graphic Files ( .orf)", "Olympus", "orf", "", 32, 250},
    {2, 13, "Panasonic Raw Graphic Files ( .rw2)", "Panasonic", "rw2", "", 32, 250},
    {2, 14, "Pentax Raw Graphic Files ( .pef .dng)", "Pentax", "pef", "dng", 32, 250},
    {2, 15, "SamSung Raw Graphic Files ( .dng)", "SamSung", "", "", 32, 250},
    {2, 16, "Sony Raw Graphic Files ( .arw .sr2 .dng)", "Sony", "arw", "sr2 dng", 32, 250},
    {2, 17, "Sigma Raw Graphic Files ( .x3f)", "Sigma", "x3f", "", 32, 250},
    {2, 18, "Konica-Minolta Raw Graphic Files ( .mrw)", "Konica-Minolta", "", "", 16, 250},
    {2, 19, "Fuji Raw Graphic Files ( .raf)", "Fuji", "raf", "", 32, 250},
    {2, 20, "Adobe PhotoShop Images ( .psd .8bps)", "Adobe", "psd", "", 48, 250},
    {2, 21, "Canon CR3 Raw Graphic Files ( .cr3)", "Canon", "cr3", "", 32, 250},

    {3, 0, "Outlook Personal Folders ( .pst)", "", "pst", "", 64, 250},
    {3, 1, "Outlook MSG ( .msg)", "", "msg", "", 8, 64},
    {3, 2, "Outlook Express E-Mail File ( .dbx)", "", "dbx", "", 32, 100},
    {3, 3, "Windows Address Book ( .wab)", "", "wab", "", 4, 16},
    {3, 4, "E-Mail MBox File ( .mbox)", "", "mbox", "", 64, 250},

    {4, 0, "Access 97-2003 Database ( .mdb)", "", "mdb", "", 32, 200},
    {4, 1, "Access Project ( .adp)", "", "adp", "", 8, 32},
    {4, 2, "Access 2007 Database ( .accdb)", "", "accdb", "", 32, 200},
    {4, 3, "Microsoft Money ( .mny)", "", "mny", "", 8, 32},

    {5, 0, "Blender File ( .blend)", "", "blend", "", 16, 200},
    {5, 1, "Autodesk FBX ( .fbx)", "", "fbx", "", 16, 200},
    {5, 2, "CATIA V5 Part ( .CATPart)", "", "CATPart", "", 16, 200},
    {5, 3, "SolidWorks Part ( .sldprt)", "", "sldprt", "", 16, 200},
    {5, 4, "Autodesk Inventor Part ( .ipt)", "", "ipt", "", 16, 200},
    {5, 5, "STEP Model ( .stp .step)", "", "stp", "", 16, 200},
    {5, 6, "STL Model ( .stl)", "", "stl", "", 16, 200},
    {5, 7, "3D Studio Model ( .3ds)", "", "3ds", "", 8, 64},
    {5, 8, "AutoCAD DXF ( .dxf)", "", "dxf", "", 8, 200},
    {5, 9, "AutoCAD Drawing ( .dwg)", "", "dwg", "", 16, 200},
    {5, 10, "Proteus Project ( .pdsprj)", "", "pdsprj", "", 4, 16},
}};

// The table is the groups' defined slots laid out in order; FindFileType relies on it.
constexpr bool catalogueIsDense() {
    std::size_t i = 0;
    for (int major = 0; major < kMajorTypes; ++major) {
        for (int minor = 0; minor < kDefinedPerGroup[major]; ++minor, ++i) {
            if (i >= kCatalogue.size() || kCatalogue[i].MajorType != major ||
                kCatalogue[i].MinorType != minor)
                return false;
        }
    }
    return i == kCatalogue.size();
}
static_assert(catalogueIsDense());

}  // namespace

std::span<const FileTypeInfo> FileTypeCatalogue() {
    return kCatalogue;
}

int DefinedTypeCount(int major) {
    return major >= 0 && major < kMajorTypes ? kDefinedPerGroup[major] : 0;
}

const char* GroupCaption(int major) {
    return major >= 0 && major < kMajorTypes ? kGroupCaptions[major] : "";
}

const FileTypeInfo* FindFileType(int major, int minor) {
    if (minor < 0 || minor >= DefinedTypeCount(major)) return nullptr;
    std::size_t index = 0;
    for (int m = 0; m < major; ++m) index += kDefinedPerGroup[m];
    return &kCatalogue[index + minor];
}

void SizeTables::ResetToDefaults() {
    DefaultSize.fill(kUndefinedDefaultSize);
    MaxSize.fill(kUndefinedMaxSize);
    for (const FileTypeInfo& t : kCatalogue) {
        const int i = SizeIndex(t.MajorType, t.MinorType);
        DefaultSize[i] = t.DefaultSizeMB * kMiB;
        MaxSize[i] = t.MaxSizeMB * kMiB;
    }
    RecomputeLargest();
}

void SizeTables::RecomputeLargest() {
    LargestMaxSize = std::max(kMiB, *std::max_element(MaxSize.begin(), MaxSize.end()));
}

}  // namespace brenvale::raw
