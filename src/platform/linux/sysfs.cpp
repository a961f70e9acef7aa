#include "platform/linux/sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <sstream>
#include <variant>
#include <vector>

namespace brenvale::platform::linux_os {

std::string trimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::optional<std::string> readAttr(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return trimBlanks(text.str());
}

std::optional<std::uint64_t> readUintAttr(const std::filesystem::path& file) {
    const auto text = readAttr(file);
    if (!text || text->empty()) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return value;
}

bool readFlagAttr(const std::filesystem::path& file) { return readUintAttr(file) == 1u; }

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }

// Families whose disks are numbered by letters: a..z, aa..az, ... (bijective base 26).
constexpr std::string_view kLetterFamilies[] = {"xvd", "sd", "hd", "vd"};

using Token = std::variant<std::uint64_t, std::string_view>;  // numbers sort before words

void tokenizeGeneric(std::string_view s, std::vector<Token>& out) {
    while (!s.empty()) {
        std::size_t n = 0;
        if (isDigit(s[0])) {
            std::uint64_t value = 0;
            while (n < s.size() && isDigit(s[n])) {
                // Saturate: names never carry numbers this long, but order must stay total.
                value = value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : value * 10 + (s[n] - '0');
                ++n;
            }
            out.emplace_back(value);
        } else {
            while (n < s.size() && !isDigit(s[n])) ++n;
            out.emplace_back(s.substr(0, n));
        }
        s.remove_prefix(n);
    }
}

std::vector<Token> sortKey(std::string_view name) {
    std::vector<Token> key;
    for (std::string_view family : kLetterFamilies) {
        if (!name.starts_with(family)) continue;
        std::size_t n = family.size();
        std::uint64_t index = 0;
        while (n < name.size() && isLower(name[n]) && index < UINT64_MAX / 27) {
            index = index * 26 + static_cast<std::uint64_t>(name[n] - 'a' + 1);
            ++n;
        }
        if (n == family.size()) break;  // no drive letters: an ordinary name
        key.emplace_back(family);
        key.emplace_back(index);
        tokenizeGeneric(name.substr(n), key);
        return key;
    }
    tokenizeGeneric(name, key);
    return key;
}

// Skips `literal`, then requires a non-empty run of characters accepted by `pred`.
template <typename Pred>
bool eat(std::string_view& s, std::string_view literal, Pred pred) {
    if (!s.starts_with(literal)) return false;
    s.remove_prefix(literal.size());
    std::size_t n = 0;
    while (n < s.size() && pred(s[n])) ++n;
    if (n == 0) return false;
    s.remove_prefix(n);
    return true;
}

}  // namespace

bool deviceNameLess(std::string_view a, std::string_view b) {
    const auto ka = sortKey(a);
    const auto kb = sortKey(b);
    if (ka != kb) return ka < kb;
    return a < b;  // "sda01" and "sda1" have equal keys; keep the order strict
}

bool isListedDiskName(std::string_view name) {
    for (std::string_view family : kLetterFamilies) {
        std::string_view s = name;
        if (eat(s, family, isLower) && s.empty()) return true;
    }
    std::string_view s = name;
    if (eat(s, "nvme", isDigit) && eat(s, "n", isDigit) && s.empty()) return true;
    for (std::string_view family : {"mmcblk", "sr", "loop"}) {
        s = name;
        if (eat(s, family, isDigit) && s.empty()) return true;
    }
    return false;
}

std::string unescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at, char max) {
            return field[at] >= '0' && field[at] <= max;
        };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1, '3') && octal(i + 2, '7') &&
            octal(i + 3, '7')) {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::optional<DeviceNumber> deviceNumberHolding(std::filesystem::path path) {
    if (path.empty()) return std::nullopt;
    std::error_code ec;
    path = std::filesystem::absolute(path, ec).lexically_normal();
    if (ec) return std::nullopt;
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) return DeviceNumber{major(st.st_dev), minor(st.st_dev)};
        const std::filesystem::path parent = path.parent_path();
        if (parent == path) return std::nullopt;
        path = parent;
    }
}

std::map<std::string, std::string> parseMountInfo(std::string_view text) {
    std::map<std::string, std::string> mounts;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        // id parent major:minor root mount-point ...
        std::string_view fields[5];
        std::size_t count = 0;
        while (count < 5 && !line.empty()) {
            const std::size_t start = line.find_first_not_of(' ');
            if (start == std::string_view::npos) break;
            line.remove_prefix(start);
            const std::size_t end = line.find(' ');
            fields[count++] = line.substr(0, end);
            line.remove_prefix(end == std::string_view::npos ? line.size() : end);
        }
        if (count < 5) continue;
        mounts.try_emplace(std::string(fields[2]), unescapeMountField(fields[4]));
    }
    return mounts;
}

}  // namespace brenvale::platform::linux_os
