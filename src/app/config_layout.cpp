// The window layout as the configuration file keeps it; the window applies and captures it.

#include <string_view>

#include "app/config.h"
#include "app/config_text.h"

namespace brenvale::app {

namespace {

// Stored sizes outside these bounds come from a damaged file or another screen and are ignored.
constexpr int kTreeWidthMin = 80;      // inclusive
constexpr int kTreeWidthEnd = 1500;    // exclusive
constexpr int kPanelHeightLow = 20;    // exclusive
constexpr int kPanelHeightHigh = 600;  // exclusive
constexpr int kColumnWidthMin = 20;    // inclusive
constexpr int kColumnWidthEnd = 2000;  // exclusive
constexpr int kNotANumber = -1;

}  // namespace

std::optional<int> TreeWidthToApply(int splitter1) {
    if (splitter1 >= kTreeWidthMin && splitter1 < kTreeWidthEnd) return splitter1;
    return std::nullopt;
}

std::optional<int> PanelHeightToApply(int splitter2) {
    if (splitter2 > kPanelHeightLow && splitter2 < kPanelHeightHigh) return splitter2;
    return std::nullopt;
}

std::vector<std::optional<int>> ColumnWidthsToApply(const std::string& columns,
                                                    std::size_t columnCount) {
    std::vector<std::optional<int>> widths(columnCount);
    std::string_view rest = columns;
    for (std::size_t index = 0; index < columnCount; ++index) {
        const std::size_t comma = rest.find(',');
        const int width = config_text::ParseInt(rest.substr(0, comma)).value_or(kNotANumber);
        if (width >= kColumnWidthMin && width < kColumnWidthEnd) widths[index] = width;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return widths;
}

std::string JoinColumnWidths(const std::vector<int>& widths) {
    std::string joined;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (i > 0) joined += ',';
        joined += std::to_string(widths[i]);
    }
    return joined;
}

}  // namespace brenvale::app
