#include "app/config.h"

#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "app/config_text.h"
#include "app/config_xml.h"

namespace brenvale::app {

namespace {

// Element and attribute names of the file.
constexpr char kRootElement[] = "Config";  // only used when a document has no element yet
constexpr char kEnhanced[] = "Enhanced";
constexpr char kFileTypes[] = "FileTypes";
constexpr char kExpand[] = "expand";
constexpr char kType[] = "Type";
constexpr char kExt[] = "ext";
constexpr char kRawRecovery[] = "RawRecovery";
constexpr char kDefaultSizeList[] = "DefaultSize";
constexpr char kMajor[] = "major";
constexpr char kMinor[] = "minor";
constexpr char kDefaultSizeAttr[] = "defaultsize";
constexpr char kMaxSizeAttr[] = "maxsize";
constexpr char kAdvScan[] = "AdvScan";
constexpr char kMethod[] = "method";
constexpr char kMisc[] = "Misc";
constexpr char kAdjustmentQuery[] = "adjustmentquery";
constexpr char kShowOnlyDeleted[] = "showonlydeleted";
constexpr char kUi[] = "UI";
constexpr char kSplitter1[] = "splitter1";
constexpr char kSplitter2[] = "splitter2";
constexpr char kColumns[] = "columns";
constexpr char kRwSplitter1[] = "rwsplitter1";
constexpr char kRwSplitter2[] = "rwsplitter2";
constexpr char kRwColumns[] = "rwcolumns";
constexpr char kScan[] = "Scan";
constexpr char kCheckpointPath[] = "checkpointpath";
constexpr char kPartiCheckpointPath[] = "particheckpointpath";
constexpr char kRecoverFolder[] = "recoverfolder";

constexpr char kIndent[] = "  ";
constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_comments;

// Sizes are whole MiB that must still fit the 32-bit byte tables.
constexpr std::int32_t kLargestSizeMiB = std::numeric_limits<std::int32_t>::max() / raw::kMiB;

pugi::xml_node childOrNew(pugi::xml_node parent, const char* name) {
    pugi::xml_node node = parent.child(name);
    return node ? node : parent.append_child(name);
}

pugi::xml_attribute attributeOrNew(pugi::xml_node node, const char* name) {
    pugi::xml_attribute attr = node.attribute(name);
    return attr ? attr : node.append_attribute(name);
}

void removeChildren(pugi::xml_node node) {
    while (pugi::xml_node child = node.first_child()) node.remove_child(child);
}

// Reads attributes and remembers the first failure as a readable message.
class AttributeReader {
public:
    explicit AttributeReader(std::string* error) : error_(error) {}

    bool text(pugi::xml_node node, const char* name, std::string& out) {
        const pugi::xml_attribute attr = node.attribute(name);
        if (!attr)
            return fail(fmt::format("{}: the attribute \"{}\" is missing", node.path(), name));
        out = attr.value();
        return true;
    }
    bool integer(pugi::xml_node node, const char* name, int& out) {
        std::string s;
        if (!text(node, name, s)) return false;
        const auto value = config_text::ParseInt(s);
        if (!value)
            return fail(fmt::format("{}: \"{}\" is not an integer: \"{}\"", node.path(), name, s));
        out = *value;
        return true;
    }
    bool boolean(pugi::xml_node node, const char* name, bool& out) {
        std::string s;
        if (!text(node, name, s)) return false;
        const auto value = config_text::ParseBool(s);
        if (!value)
            return fail(fmt::format("{}: \"{}\" is not a Boolean: \"{}\"", node.path(), name, s));
        out = *value;
        return true;
    }
    // A size in MiB, returned in bytes.
    bool sizeMiB(pugi::xml_node node, const char* name, std::int32_t& bytes) {
        int mib = 0;
        if (!integer(node, name, mib)) return false;
        if (mib < 0 || mib > kLargestSizeMiB) {
            return fail(fmt::format("{}: \"{}\" is not a size from 0 to {} MB: {}", node.path(),
                                    name, kLargestSizeMiB, mib));
        }
        bytes = mib * raw::kMiB;
        return true;
    }

private:
    bool fail(std::string message) {
        if (error_) *error_ = std::move(message);
        return false;
    }
    std::string* error_;
};

bool loadFileTypes(pugi::xml_node root, Config& config, AttributeReader& read) {
    const pugi::xml_node fileTypes = childOrNew(root, kFileTypes);
    if (!read.boolean(fileTypes, kExpand, config.ExpandLostFilesNode)) return false;
    config.LostFileExtensions.clear();
    for (const pugi::xml_node child : fileTypes.children()) {
        if (child.type() != pugi::node_element) continue;
        // A hand-edited file may list more than the options window allows; the rest are dropped.
        if (config.LostFileExtensions.size() == kMaxLostFileExtensions) break;
        std::string ext;
        if (!read.text(child, kExt, ext)) return false;
        config.LostFileExtensions.push_back(std::move(ext));
    }
    return true;
}

bool loadSizes(pugi::xml_node root, raw::SizeTables& sizes, AttributeReader& read) {
    const pugi::xml_node list = childOrNew(childOrNew(root, kRawRecovery), kDefaultSizeList);
    for (const pugi::xml_node child : list.children()) {
        if (child.type() != pugi::node_element) continue;
        int major = 0;
        int minor = 0;
        std::int32_t defaultBytes = 0;
        std::int32_t maxBytes = 0;
        if (!read.integer(child, kMajor, major) || !read.integer(child, kMinor, minor) ||
            !read.sizeMiB(child, kDefaultSizeAttr, defaultBytes) ||
            !read.sizeMiB(child, kMaxSizeAttr, maxBytes)) {
            return false;
        }
        // A pair outside the tables names no slot; such an entry is ignored.
        if (!raw::ValidTypePair(major, minor)) continue;
        sizes.DefaultSize[raw::SizeIndex(major, minor)] = defaultBytes;
        sizes.MaxSize[raw::SizeIndex(major, minor)] = maxBytes;
    }
    sizes.RecomputeLargest();
    return true;
}

bool loadMisc(pugi::xml_node root, Config& config, AttributeReader& read) {
    const pugi::xml_node misc = childOrNew(root, kMisc);
    if (!read.boolean(misc, kAdjustmentQuery, config.AdjustmentQuery)) return false;
    if (misc.attribute(kShowOnlyDeleted) &&
        !read.boolean(misc, kShowOnlyDeleted, config.ShowOnlyDeleted))
        return false;
    // Files written before the recovery remembered its folder do not have it.
    if (misc.attribute(kRecoverFolder) && !read.text(misc, kRecoverFolder, config.RecoverFolder)) return false;
    return true;
}

bool loadLayout(pugi::xml_node root, Config& config, AttributeReader& read) {
    const pugi::xml_node ui = root.child(kUi);
    if (!ui) return true;
    return read.integer(ui, kSplitter1, config.Splitter1) &&
           read.integer(ui, kSplitter2, config.Splitter2) &&
           read.text(ui, kColumns, config.Columns) &&
           read.integer(ui, kRwSplitter1, config.RwSplitter1) &&
           read.integer(ui, kRwSplitter2, config.RwSplitter2) &&
           read.text(ui, kRwColumns, config.RwColumns);
}

bool loadScanPaths(pugi::xml_node root, Config& config, AttributeReader& read) {
    const pugi::xml_node scan = root.child(kScan);
    if (!scan) return true;
    return read.text(scan, kCheckpointPath, config.CheckpointPath) &&
           read.text(scan, kPartiCheckpointPath, config.PartiCheckpointPath);
}

void saveSizes(pugi::xml_node root, const raw::SizeTables& sizes) {
    pugi::xml_node list = childOrNew(childOrNew(root, kRawRecovery), kDefaultSizeList);
    removeChildren(list);
    for (int major = 0; major < raw::kMajorTypes; ++major) {
        for (int minor = 0; minor < raw::kMinorTypes; ++minor) {
            pugi::xml_node type = list.append_child(kType);
            type.append_attribute(kMajor) = major;
            type.append_attribute(kMinor) = minor;
            type.append_attribute(kDefaultSizeAttr) =
                sizes.DefaultSize[raw::SizeIndex(major, minor)] / raw::kMiB;
            type.append_attribute(kMaxSizeAttr) =
                sizes.MaxSize[raw::SizeIndex(major, minor)] / raw::kMiB;
        }
    }
}

// Writes beside the file and renames, so a failed write leaves the old file whole; where no
// file can be made beside it, writes in place.
bool writeDocument(const pugi::xml_document& doc, const std::string& fileName) {
    const std::string temp = fileName + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            doc.save(out, kIndent);
            out.close();
            std::error_code ec;
            if (out) std::filesystem::rename(temp, fileName, ec);
            if (out && !ec) return true;
            std::filesystem::remove(temp, ec);
        }
    }
    return doc.save_file(fileName.c_str(), kIndent);
}

}  // namespace

bool LoadConfig(pugi::xml_document& doc, Config& config, std::string* error) {
    const pugi::xml_node root = doc.document_element();
    if (!root) {
        if (error) *error = "the document has no element";
        return false;
    }
    childOrNew(root, kEnhanced);
    AttributeReader read(error);
    return loadFileTypes(root, config, read) && loadSizes(root, config.Sizes, read) &&
           read.integer(childOrNew(root, kAdvScan), kMethod, config.AdvScanMethod) &&
           loadMisc(root, config, read) && loadLayout(root, config, read) &&
           loadScanPaths(root, config, read);
}

bool SaveConfig(pugi::xml_document& doc, const Config& config, const std::string& fileName) {
    pugi::xml_node root = doc.document_element();
    if (!root) root = doc.append_child(kRootElement);
    childOrNew(root, kEnhanced);

    pugi::xml_node fileTypes = childOrNew(root, kFileTypes);
    attributeOrNew(fileTypes, kExpand) = config.ExpandLostFilesNode;
    removeChildren(fileTypes);
    for (const std::string& ext : config.LostFileExtensions)
        fileTypes.append_child(kType).append_attribute(kExt) = ext.c_str();

    saveSizes(root, config.Sizes);

    attributeOrNew(childOrNew(root, kAdvScan), kMethod) = config.AdvScanMethod;
    pugi::xml_node misc = childOrNew(root, kMisc);
    attributeOrNew(misc, kAdjustmentQuery) = config.AdjustmentQuery;
    attributeOrNew(misc, kShowOnlyDeleted) = config.ShowOnlyDeleted;
    attributeOrNew(misc, kRecoverFolder) = config.RecoverFolder.c_str();

    pugi::xml_node ui = childOrNew(root, kUi);
    attributeOrNew(ui, kSplitter1) = config.Splitter1;
    attributeOrNew(ui, kSplitter2) = config.Splitter2;
    attributeOrNew(ui, kColumns) = config.Columns.c_str();
    attributeOrNew(ui, kRwSplitter1) = config.RwSplitter1;
    attributeOrNew(ui, kRwSplitter2) = config.RwSplitter2;
    attributeOrNew(ui, kRwColumns) = config.RwColumns.c_str();

    pugi::xml_node scan = childOrNew(root, kScan);
    attributeOrNew(scan, kCheckpointPath) = config.CheckpointPath.c_str();
    attributeOrNew(scan, kPartiCheckpointPath) = config.PartiCheckpointPath.c_str();

    return !fileName.empty() && writeDocument(doc, fileName);
}

// --- ConfigDocument ---

struct ConfigDocument::Impl {
    pugi::xml_document doc;
    std::string fileName;
    std::string error;

    bool parsed(const pugi::xml_parse_result& result) {
        if (result) return true;
        error = fmt::format("{} at offset {}", result.description(), result.offset);
        doc.reset();
        return false;
    }
};

ConfigDocument::ConfigDocument() : impl_(std::make_unique<Impl>()) {}
ConfigDocument::~ConfigDocument() = default;
ConfigDocument::ConfigDocument(ConfigDocument&&) noexcept = default;
ConfigDocument& ConfigDocument::operator=(ConfigDocument&&) noexcept = default;

bool ConfigDocument::Open(const std::string& path) {
    impl_->fileName.clear();
    impl_->error.clear();
    if (!impl_->parsed(impl_->doc.load_file(path.c_str(), kParseOptions))) return false;
    impl_->fileName = path;
    return true;
}

bool ConfigDocument::Parse(const std::string& xml) {
    impl_->fileName.clear();
    impl_->error.clear();
    return impl_->parsed(impl_->doc.load_buffer(xml.data(), xml.size(), kParseOptions));
}

bool ConfigDocument::Load(Config& config) {
    impl_->error.clear();
    return LoadConfig(impl_->doc, config, &impl_->error);
}

bool ConfigDocument::Save(const Config& config) {
    return HasFileName() && SaveConfig(impl_->doc, config, impl_->fileName);
}

bool ConfigDocument::SaveAs(const Config& config, const std::string& path) {
    if (!SaveConfig(impl_->doc, config, path)) return false;
    impl_->fileName = path;
    return true;
}

const std::string& ConfigDocument::FileName() const {
    return impl_->fileName;
}

const std::string& ConfigDocument::Error() const {
    return impl_->error;
}

std::string ConfigDocument::Text() const {
    std::ostringstream out;
    impl_->doc.save(out, kIndent);
    return out.str();
}

}  // namespace brenvale::app
