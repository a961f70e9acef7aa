#include "app/file_type_options.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "app/type_names.h"
#include "raw/file_types.h"

namespace brenvale::app {

namespace {

std::string trimLower(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    std::string out = s.substr(first, last - first + 1);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A whole number typed into a digits-only field; nullopt for blank text or one too large.
std::optional<std::int64_t> number(const std::string& s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

std::string ExtensionEntryText(const std::string& ext) {
    TypeNames names;
    std::string description = names.TypeNameOf("a." + ext, false);
    if (description.size() > 80) description.resize(80);
    return fmt::format(kExtensionEntryFormat, description, ext);
}

FileTypeOptions::FileTypeOptions(const Config& config)
    : ExpandNode(config.ExpandLostFilesNode), FExtensions(config.LostFileExtensions) {
    for (const auto& t : raw::FileTypeCatalogue()) {
        const auto slot = static_cast<std::size_t>(raw::SizeIndex(t.MajorType, t.MinorType));
        FRows.push_back({t.MajorType, t.MinorType, t.Caption, config.Sizes.DefaultSize[slot] / raw::kMiB,
                         config.Sizes.MaxSize[slot] / raw::kMiB});
    }
    FLargestMB = config.Sizes.LargestMaxSize / raw::kMiB;
}

std::optional<OptionsRefusal> FileTypeOptions::AddExtension(const std::string& text) {
    const std::string ext = trimLower(text);
    if (ext.empty() || !CanAdd()) return std::nullopt;
    if (ext.find_first_of("*.\\/") != std::string::npos) return OptionsRefusal{kInvalidExtension, kOptionsErrorCaption};
    if (std::find(FExtensions.begin(), FExtensions.end(), ext) != FExtensions.end()) {
        return OptionsRefusal{fmt::format(kExtensionExists, ext), kOptionsErrorCaption};
    }
    FExtensions.push_back(ext);
    return std::nullopt;
}

void FileTypeOptions::RemoveExtensions(std::vector<std::size_t> indexes) {
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it < FExtensions.size()) FExtensions.erase(FExtensions.begin() + static_cast<std::ptrdiff_t>(*it));
    }
}

std::optional<OptionsRefusal> FileTypeOptions::ApplySizes(std::size_t row, const std::string& defaultMB,
                                                          const std::string& maxMB) {
    if (row >= FRows.size()) return std::nullopt;
    const auto def = number(defaultMB);
    const auto max = number(maxMB);
    if (!def || !max) return OptionsRefusal{kInvalidInputData, {}};
    if (*max < *def) return OptionsRefusal{kDefaultBeyondMax, {}};
    if (*max > FLargestMB) return OptionsRefusal{fmt::format(kMaxBeyondLimit, FLargestMB), {}};
    FRows[row].DefaultMB = *def;
    FRows[row].MaxMB = *max;
    return std::nullopt;
}

void FileTypeOptions::Store(Config& config) const {
    config.ExpandLostFilesNode = ExpandNode;
    config.LostFileExtensions = FExtensions;
    for (const auto& r : FRows) {
        const auto slot = static_cast<std::size_t>(raw::SizeIndex(r.Major, r.Minor));
        config.Sizes.DefaultSize[slot] = static_cast<std::int32_t>(r.DefaultMB * raw::kMiB);
        config.Sizes.MaxSize[slot] = static_cast<std::int32_t>(r.MaxMB * raw::kMiB);
    }
}

}  // namespace brenvale::app
