#pragma once
// Number and switch texts as the configuration file and the layout strings hold them.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brenvale::app::config_text {

// Drops control characters and blanks at both ends.
inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// A decimal integer with an optional sign, blanks around it allowed; nothing when the text
// is not one or does not fit 32 bits.
inline std::optional<std::int32_t> ParseInt(std::string_view text) {
    std::string_view s = Trim(text);
    const bool plus = !s.empty() && s.front() == '+';
    if (plus) s.remove_prefix(1);
    if (s.empty() || (plus && s.front() == '-')) return std::nullopt;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// "true"/"false" in any case, or an integer (non-zero is true): the forms a Boolean setting
// has been written in. Nothing for any other text.
inline std::optional<bool> ParseBool(std::string_view text) {
    const std::string_view s = Trim(text);
    auto equalsNoCase = [&](std::string_view word) {
        if (s.size() != word.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            char c = s[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (equalsNoCase("true")) return true;
    if (equalsNoCase("false")) return false;
    if (const auto n = ParseInt(s)) return *n != 0;
    return std::nullopt;
}

}  // namespace brenvale::app::config_text
