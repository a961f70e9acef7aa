#pragma once
// The file list's "Type" column: a description of a file by its extension, from a built-in
// table of common types, remembered per extension because a listing asks once per row.

#include <string>
#include <string_view>
#include <unordered_map>

namespace brenvale::app {

inline constexpr char kFolderTypeName[] = "File folder";
inline constexpr char kPlainFileTypeName[] = "File";  // a file without an extension
inline constexpr char kUnknownTypeSuffix[] = " File";  // after the upper-cased extension: "XYZ File"

// The table's description of a lower-case extension without its dot; empty when it has none.
std::string_view KnownTypeName(std::string_view lowerExtension);

class TypeNames {
public:
    // "File folder" for a folder; otherwise the description of the file name's extension (the
    // text after its last dot, in any case): "File" without one, "XYZ File" for an unknown "xyz".
    std::string TypeNameOf(std::string_view fileName, bool folder);

private:
    std::unordered_map<std::string, std::string> FCache;  // lower-cased extension, "." for none
};

}  // namespace brenvale::app
