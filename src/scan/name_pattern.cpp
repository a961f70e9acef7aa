#include "scan/name_pattern.h"

#include <vector>

#include "storage/utf.h"

namespace brenvale::scan {

namespace {

std::u32string toChars(std::string_view utf8, bool fold) {
    const std::u16string wide = storage::Utf8ToUtf16(utf8);
    std::u32string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        }
        if (fold && ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))) c += 0x20;
        out.push_back(c);
    }
    return out;
}

// Greedy matching with one backtrack point per "*": linear in practice, never exponential.
bool match(const std::u32string& p, const std::u32string& s) {
    std::size_t pi = 0, si = 0, star = std::u32string::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == U'?' || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (pi < p.size() && p[pi] == U'*') {
            star = pi++;
            mark = si;
        } else if (star != std::u32string::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == U'*') ++pi;
    return pi == p.size();
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name, bool caseSensitive) {
    if (pattern == "*") return true;
    return match(toChars(pattern, !caseSensitive), toChars(name, !caseSensitive));
}

bool MatchesPatternList(std::string_view list, std::string_view name, bool caseSensitive) {
    std::size_t at = 0;
    while (true) {
        const auto comma = list.find(',', at);
        if (MatchesPattern(list.substr(at, comma == std::string_view::npos ? list.npos : comma - at), name, caseSensitive)) {
            return true;
        }
        if (comma == std::string_view::npos) return false;
        at = comma + 1;
    }
}

}  // namespace brenvale::scan
