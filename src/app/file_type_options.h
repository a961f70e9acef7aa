#pragma once
// The "File Types" and "Raw Recovery" tabs of "Options" without widgets: the working list of
// extensions for "Lost Files by Type" and the working sizes per file type, with the checks the
// tabs make before anything is stored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"

namespace brenvale::app {

inline constexpr char kInvalidExtension[] = "Invalid extension name.";
inline constexpr char kExtensionExists[] = "Extension name \"{}\" already exists.";
inline constexpr char kOptionsErrorCaption[] = "Error";
inline constexpr char kInvalidInputData[] = "Invalid input data.";
inline constexpr char kDefaultBeyondMax[] = "\"Default Size\" cannot beyond \"Max Size\".";
inline constexpr char kMaxBeyondLimit[] = "\"Max Size\" cannot beyond {}M.";
inline constexpr char kExtensionEntryFormat[] = "{}(*.{})";
inline constexpr char kExpandLostFilesText[] = "Expand \"Lost Files by Type\" node on program startup";
inline constexpr char kLostFilesNote[] =
    "Lost files of the types listed above will appear under the \"Lost Files by Type\" node after a scan.";
inline constexpr char kDefaultSizeHint[] =
    "Default Size \xE2\x80\x94 used when the real length of a file\r\ncannot be determined. In Raw Recovery the file "
    "is then\r\nextracted as this many MB, and the scan stops searching\r\nfor its end at this size. Keep it at or "
    "above what this\r\nfile type is usually worth recovering.";
inline constexpr char kMaxSizeHint[] =
    "Max Size \xE2\x80\x94 how far the scan will read ahead to find\r\nwhere a file ends. If the end is not found "
    "within this\r\nmany MB the length stays unknown and the file is\r\nextracted at its Default Size instead. "
    "Raising it looks\r\ndeeper but slows the scan down.";

// A message a tab shows instead of taking an edit.
struct OptionsRefusal {
    std::string Text;
    std::string Caption;  // empty: the application title
};

// One row of the "Raw Recovery" tab: a defined type and its sizes in whole MB.
struct SizeRow {
    int Major = 0;
    int Minor = 0;
    std::string Caption;
    std::int64_t DefaultMB = 0;
    std::int64_t MaxMB = 0;
};

class FileTypeOptions {
public:
    explicit FileTypeOptions(const Config& config);

    // "File Types".
    const std::vector<std::string>& Extensions() const { return FExtensions; }
    // "Add": trimmed and lower-cased; blank text does nothing (nullopt, no change); a refusal
    // leaves the list as it is.
    std::optional<OptionsRefusal> AddExtension(const std::string& text);
    // "Remove" of the selected lines.
    void RemoveExtensions(std::vector<std::size_t> indexes);
    // The edit field and "Add" take input only below five entries.
    bool CanAdd() const { return FExtensions.size() < kMaxLostFileExtensions; }
    bool ExpandNode = true;

    // "Raw Recovery".
    const std::vector<SizeRow>& Rows() const { return FRows; }
    // "Apply" of the fields for a row: the two numbers as typed (digits only, maybe blank).
    std::optional<OptionsRefusal> ApplySizes(std::size_t row, const std::string& defaultMB, const std::string& maxMB);

    // "OK": the working list and sizes into the configuration.
    void Store(Config& config) const;

private:
    std::vector<std::string> FExtensions;
    std::vector<SizeRow> FRows;
    std::int64_t FLargestMB = 1;
};

// "%s(*.%s)": the type description and the extension.
std::string ExtensionEntryText(const std::string& ext);

}  // namespace brenvale::app
