#include "cli/table.h"

#include <algorithm>

namespace brenvale::cli {

namespace {
// Display width of UTF-8 text: continuation bytes take no column.
std::size_t displayWidth(const std::string& s) {
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}
}  // namespace

void TextTable::print(std::ostream& out, const std::vector<std::size_t>& rightAligned) const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    for (const auto& row : rows_) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - displayWidth(row[i]), ' ');
            const bool right = std::find(rightAligned.begin(), rightAligned.end(), i) != rightAligned.end();
            if (i) line += "  ";
            line += right ? pad + row[i] : row[i] + (i + 1 < row.size() ? pad : std::string{});
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
}

}  // namespace brenvale::cli
