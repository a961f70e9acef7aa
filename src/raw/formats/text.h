#pragma once
// Bytes read as text by the formats that keep text in their structures.

#include <string_view>

#include "raw/formats/formats.h"

namespace brenvale::raw::formats {

inline std::string_view AsText(Bytes d) {
    return {reinterpret_cast<const char*>(d.data()), d.size()};
}

// `s` without the characters of `blanks` at either end.
inline std::string_view Trimmed(std::string_view s, std::string_view blanks = " \t\r\n") {
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

}  // namespace brenvale::raw::formats
