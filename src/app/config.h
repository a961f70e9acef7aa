#pragma once
// The program's configuration file (Config.xml): raw-recovery sizes, the "Lost Files by Type"
// extensions, option switches, the window layout and the folders last used for checkpoints.
// Read once at start-up and written back when a layout or option changes.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "raw/file_types.h"

namespace brenvale::app {

inline constexpr char kConfigFileName[] = "Config.xml";
// The options window lets the user list at most this many extensions.
inline constexpr std::size_t kMaxLostFileExtensions = 5;

// Every setting the file holds, with the values in force when the file does not name them.
struct Config {
    bool ExpandLostFilesNode = true;
    std::vector<std::string> LostFileExtensions;
    raw::SizeTables Sizes;  // DefaultSize, MaxSize, LargestMaxSize
    int AdvScanMethod = 1;  // kept and written back; nothing depends on it
    bool AdjustmentQuery = true;
    bool ShowOnlyDeleted = false;
    int Splitter1 = 289;  // drive tree width
    int Splitter2 = 263;  // lower panel height
    std::string Columns;  // file-list column widths, comma-separated
    int RwSplitter1 = 350;
    int RwSplitter2 = 209;
    std::string RwColumns;
    std::string CheckpointPath;       // folder of the last advanced-scan checkpoint
    std::string PartiCheckpointPath;  // folder or file of the partition-scan checkpoint
    std::string RecoverFolder;        // the destination of the last recovery
};

// An open configuration document and the file it came from. Saving rewrites the sections the
// program owns and keeps anything else the file holds.
class ConfigDocument {
public:
    ConfigDocument();
    ~ConfigDocument();
    ConfigDocument(ConfigDocument&&) noexcept;
    ConfigDocument& operator=(ConfigDocument&&) noexcept;

    // Reads and parses `path`. On failure the document is empty and has no file name, so a
    // later Save cannot overwrite a file it could not read.
    bool Open(const std::string& path);
    // Parses XML text; the document gets no file name.
    bool Parse(const std::string& xml);
    // Reads every section into `config`; false at the first missing or unconvertible value,
    // with the values read before it in force.
    bool Load(Config& config);
    // Writes `config` into the document and the document to FileName(); false without a name.
    bool Save(const Config& config);
    // The same to `path`, which becomes the document's file name when written.
    bool SaveAs(const Config& config, const std::string& path);

    const std::string& FileName() const;
    bool HasFileName() const { return !FileName().empty(); }
    // Why the last Open, Parse or Load failed.
    const std::string& Error() const;
    // The document as it would be written.
    std::string Text() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// --- Where the file lives ---

// "data/Config.xml" beside the executable when that folder exists and is writable (portable
// use), else Config.xml in the per-user configuration folder.
std::string ConfigFilePath();
// The shipped defaults, in the order they are tried: beside the executable, then installed.
std::vector<std::string> ShippedConfigCandidates();
// Creates `path` (and its folders) from the first existing shipped default, or from the built-in
// defaults when none exists. `error` says what failed.
bool CreateConfigFile(const std::string& path, const std::vector<std::string>& shippedDefaults,
                      std::string& error);
// Sets `path` to ConfigFilePath() and creates that file on first run.
bool EnsureConfigFile(std::string& path, std::string& error);

// --- Window layout kept in the file ---

// The stored tree width, when it is one the window may take.
std::optional<int> TreeWidthToApply(int splitter1);
// The stored lower-panel height, when it is one the window may take.
std::optional<int> PanelHeightToApply(int splitter2);
// One entry per existing column: the stored width to give it, or nothing to leave it as is.
std::vector<std::optional<int>> ColumnWidthsToApply(const std::string& columns,
                                                    std::size_t columnCount);
// Column widths as the file stores them ("120,80,60").
std::string JoinColumnWidths(const std::vector<int>& widths);

}  // namespace brenvale::app
