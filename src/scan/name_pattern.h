#pragma once
// File-name patterns of the search: "*" matches any run of characters, "?" one character.

#include <string>
#include <string_view>

namespace brenvale::scan {

// Whether `name` matches `pattern` (both UTF-8; characters, not bytes, are compared). Without
// caseSensitive both are compared in lower case (ASCII and Latin-1 letters).
bool MatchesPattern(std::string_view pattern, std::string_view name, bool caseSensitive);

// Whether `name` matches one of the patterns of `list`, split at every ",". The patterns are
// used as they stand: a blank after a comma is part of the next pattern.
bool MatchesPatternList(std::string_view list, std::string_view name, bool caseSensitive);

}  // namespace brenvale::scan
