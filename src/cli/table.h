#pragma once
// Aligned text tables for people.

#include <ostream>
#include <string>
#include <vector>

namespace brenvale::cli {

class TextTable {
public:
    explicit TextTable(std::vector<std::string> header) : rows_{std::move(header)} {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    // Columns separated by two blanks; columns listed in `rightAligned` are right-aligned.
    void print(std::ostream& out, const std::vector<std::size_t>& rightAligned = {}) const;

private:
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace brenvale::cli
