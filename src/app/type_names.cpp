#include "app/type_names.h"

#include <algorithm>
#include <array>
#include <utility>

#include "storage/utf.h"

namespace brenvale::app {

namespace {

using Entry = std::pair<std::string_view, std::string_view>;

// Sorted by extension for the binary search; checked at compile time below.
constexpr std::array kTypes = {
    Entry{"3g2", "3G2 video"},
    Entry{"3gp", "3GP video"},
    Entry{"7z", "7Z archive"},
    Entry{"a", "Static library"},
    Entry{"aac", "AAC audio"},
    Entry{"accdb", "Access Database"},
    Entry{"aif", "AIFF audio"},
    Entry{"aiff", "AIFF audio"},
    Entry{"amr", "AMR audio"},
    Entry{"apk", "Android package"},
    Entry{"arj", "ARJ archive"},
    Entry{"arw", "Camera raw image"},
    Entry{"asf", "ASF media"},
    Entry{"asm", "Assembly source file"},
    Entry{"avi", "AVI video"},
    Entry{"bak", "Backup file"},
    Entry{"bat", "Batch file"},
    Entry{"bin", "Binary file"},
    Entry{"bmp", "Bitmap image"},
    Entry{"bz2", "BZIP2 archive"},
    Entry{"c", "C source file"},
    Entry{"cab", "Cabinet archive"},
    Entry{"cfg", "Configuration file"},
    Entry{"chm", "Compiled HTML help file"},
    Entry{"class", "Java class file"},
    Entry{"cmd", "Command script"},
    Entry{"conf", "Configuration file"},
    Entry{"cpp", "C++ source file"},
    Entry{"cr2", "Camera raw image"},
    Entry{"cr3", "Camera raw image"},
    Entry{"crt", "Security certificate"},
    Entry{"cs", "C# source file"},
    Entry{"css", "Cascading style sheet"},
    Entry{"csv", "CSV file"},
    Entry{"cur", "Cursor"},
    Entry{"dat", "Data file"},
    Entry{"db", "Database file"},
    Entry{"deb", "Debian package"},
    Entry{"dif", "Drive image"},
    Entry{"dll", "Shared library"},
    Entry{"dmg", "Disk image"},
    Entry{"dng", "Camera raw image"},
    Entry{"doc", "Word Document"},
    Entry{"docm", "Word Macro-Enabled Document"},
    Entry{"docx", "Word Document"},
    Entry{"dot", "Word Template"},
    Entry{"dotx", "Word Template"},
    Entry{"dwg", "DWG drawing"},
    Entry{"dxf", "DXF drawing"},
    Entry{"efi", "EFI application"},
    Entry{"emf", "EMF image"},
    Entry{"eml", "E-mail message"},
    Entry{"eps", "Encapsulated PostScript"},
    Entry{"epub", "EPUB book"},
    Entry{"exe", "Application"},
    Entry{"flac", "FLAC audio"},
    Entry{"flv", "FLV video"},
    Entry{"gif", "GIF image"},
    Entry{"go", "Go source file"},
    Entry{"gz", "GZIP archive"},
    Entry{"h", "C header file"},
    Entry{"heic", "HEIC image"},
    Entry{"hpp", "C++ header file"},
    Entry{"htm", "HTML Document"},
    Entry{"html", "HTML Document"},
    Entry{"ico", "Icon"},
    Entry{"ics", "Calendar file"},
    Entry{"img", "Disk image"},
    Entry{"ini", "Configuration settings"},
    Entry{"iso", "Disc image file"},
    Entry{"jar", "Java archive"},
    Entry{"java", "Java source file"},
    Entry{"jfif", "JPEG image"},
    Entry{"jpe", "JPEG image"},
    Entry{"jpeg", "JPEG image"},
    Entry{"jpg", "JPEG image"},
    Entry{"js", "JavaScript file"},
    Entry{"json", "JSON file"},
    Entry{"ko", "Kernel module"},
    Entry{"lib", "Static library"},
    Entry{"lnk", "Shortcut"},
    Entry{"log", "Log file"},
    Entry{"lzh", "LZH archive"},
    Entry{"m3u", "Playlist"},
    Entry{"m4a", "MPEG-4 audio"},
    Entry{"m4v", "MPEG-4 video"},
    Entry{"md", "Markdown document"},
    Entry{"mdb", "Access Database"},
    Entry{"mid", "MIDI sequence"},
    Entry{"midi", "MIDI sequence"},
    Entry{"mkv", "Matroska video"},
    Entry{"mov", "MOV video"},
    Entry{"mp3", "MP3 audio"},
    Entry{"mp4", "MP4 video"},
    Entry{"mpeg", "MPEG video"},
    Entry{"mpg", "MPEG video"},
    Entry{"msg", "Mail message"},
    Entry{"msi", "Installer package"},
    Entry{"nef", "Camera raw image"},
    Entry{"o", "Object file"},
    Entry{"obj", "Object file"},
    Entry{"odp", "OpenDocument presentation"},
    Entry{"ods", "OpenDocument spreadsheet"},
    Entry{"odt", "OpenDocument text"},
    Entry{"ogg", "OGG audio"},
    Entry{"opus", "Opus audio"},
    Entry{"orf", "Camera raw image"},
    Entry{"otf", "OpenType font"},
    Entry{"ova", "Virtual appliance"},
    Entry{"pdf", "PDF Document"},
    Entry{"pef", "Camera raw image"},
    Entry{"pem", "Security certificate"},
    Entry{"php", "PHP script"},
    Entry{"pl", "Perl script"},
    Entry{"png", "PNG image"},
    Entry{"potx", "PowerPoint Template"},
    Entry{"pps", "PowerPoint Slide Show"},
    Entry{"ppsx", "PowerPoint Slide Show"},
    Entry{"ppt", "PowerPoint Presentation"},
    Entry{"pptm", "PowerPoint Macro-Enabled Presentation"},
    Entry{"pptx", "PowerPoint Presentation"},
    Entry{"ps", "PostScript file"},
    Entry{"ps1", "PowerShell script"},
    Entry{"psd", "PSD image"},
    Entry{"pst", "Mail data file"},
    Entry{"py", "Python file"},
    Entry{"qvc", "Scan checkpoint"},
    Entry{"raf", "Camera raw image"},
    Entry{"rar", "RAR archive"},
    Entry{"rb", "Ruby script"},
    Entry{"reg", "Registration entries"},
    Entry{"rpm", "RPM package"},
    Entry{"rs", "Rust source file"},
    Entry{"rtf", "Rich Text Format"},
    Entry{"rw2", "Camera raw image"},
    Entry{"sh", "Shell script"},
    Entry{"so", "Shared library"},
    Entry{"sql", "SQL file"},
    Entry{"sqlite", "SQLite database"},
    Entry{"srt", "Subtitle file"},
    Entry{"srw", "Camera raw image"},
    Entry{"stl", "STL model"},
    Entry{"svg", "SVG image"},
    Entry{"swf", "SWF animation"},
    Entry{"sys", "System file"},
    Entry{"tar", "TAR archive"},
    Entry{"tgz", "TAR-GZIP archive"},
    Entry{"tif", "TIFF image"},
    Entry{"tiff", "TIFF image"},
    Entry{"tmp", "Temporary file"},
    Entry{"torrent", "Torrent file"},
    Entry{"ttf", "TrueType font"},
    Entry{"txt", "Text Document"},
    Entry{"url", "Internet shortcut"},
    Entry{"vbs", "VBScript file"},
    Entry{"vcf", "vCard file"},
    Entry{"vhd", "Virtual hard disk"},
    Entry{"vhdx", "Virtual hard disk"},
    Entry{"vmdk", "Virtual machine disk"},
    Entry{"vob", "DVD video object"},
    Entry{"wav", "WAV audio"},
    Entry{"webm", "WebM video"},
    Entry{"webp", "WebP image"},
    Entry{"wma", "WMA audio"},
    Entry{"wmf", "WMF image"},
    Entry{"wmv", "WMV video"},
    Entry{"woff", "Web font"},
    Entry{"woff2", "Web font"},
    Entry{"xhtml", "XHTML Document"},
    Entry{"xls", "Excel Worksheet"},
    Entry{"xlsm", "Excel Macro-Enabled Worksheet"},
    Entry{"xlsx", "Excel Worksheet"},
    Entry{"xltx", "Excel Template"},
    Entry{"xml", "XML Document"},
    Entry{"xz", "XZ archive"},
    Entry{"yaml", "YAML file"},
    Entry{"yml", "YAML file"},
    Entry{"zip", "ZIP archive"},
    Entry{"zst", "Zstandard archive"},
};

constexpr bool byExtension(const Entry& a, const Entry& b) { return a.first < b.first; }

static_assert(std::is_sorted(kTypes.begin(), kTypes.end(), byExtension) &&
                  std::adjacent_find(kTypes.begin(), kTypes.end(),
                                     [](const Entry& a, const Entry& b) { return a.first == b.first; }) ==
                      kTypes.end(),
              "the type table must be sorted by extension without repeats");

}  // namespace

std::string_view KnownTypeName(std::string_view lowerExtension) {
    const auto it = std::lower_bound(kTypes.begin(), kTypes.end(), Entry{lowerExtension, {}}, byExtension);
    return it != kTypes.end() && it->first == lowerExtension ? it->second : std::string_view{};
}

std::string TypeNames::TypeNameOf(std::string_view fileName, bool folder) {
    if (folder) return kFolderTypeName;
    const std::size_t dot = fileName.rfind('.');
    std::string key = dot == std::string_view::npos ? std::string{} : std::string(fileName.substr(dot + 1));
    std::transform(key.begin(), key.end(), key.begin(), storage::AsciiLower);
    // A name ending in a dot has no extension either.
    if (key.empty()) key = ".";
    if (const auto hit = FCache.find(key); hit != FCache.end()) return hit->second;

    std::string name;
    if (key == ".") {
        name = kPlainFileTypeName;
    } else if (const std::string_view known = KnownTypeName(key); !known.empty()) {
        name = known;
    } else {
        name.resize(key.size());
        std::transform(key.begin(), key.end(), name.begin(), storage::AsciiUpper);
        name += kUnknownTypeSuffix;
    }
    return FCache.emplace(std::move(key), std::move(name)).first->second;
}

}  // namespace brenvale::app
