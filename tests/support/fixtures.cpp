#include "support/fixtures.h"
#include "support/file_digest.h"

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>

#ifndef BRENVALE_FIXTURE_DIR
#error "BRENVALE_FIXTURE_DIR must name the folder build-fixtures.sh writes into"
#endif

namespace brenvale::test {
namespace {

constexpr std::string_view kManifestHeader = "path\ttype\tstatus\tsize\tmtime\tsha256";

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

[[noreturn]] void malformed(const std::filesystem::path& file, std::size_t lineNo,
                            const std::string& what) {
    throw std::runtime_error(file.string() + ":" + std::to_string(lineNo) + ": " + what);
}

// Reads every line; a final newline is expected but not required. Lines with a carriage
// return or an empty line anywhere are errors: the files are written by our own scripts.
std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(file.string() + ": cannot open");
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t lineNo = lines.size() + 1;
        if (line.empty()) malformed(file, lineNo, "empty line");
        if (line.find('\r') != std::string::npos) malformed(file, lineNo, "carriage return");
        lines.push_back(std::move(line));
    }
    if (in.bad()) throw std::runtime_error(file.string() + ": read error");
    if (lines.empty()) malformed(file, 1, "missing header line");
    return lines;
}

template <typename T>
bool parseNumber(std::string_view text, T& out) {
    if (text.empty() || text.front() == '+') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

bool isLowerHex(std::string_view text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// ---- SHA-256 ---------------------------------------------------------------------------

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t t1 =
            h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 =
            (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) state[i] += add[i];
}

}  // namespace

std::string sha256Hex(std::span<const std::byte> data) {
    std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    std::size_t whole = data.size() / 64 * 64;
    for (std::size_t off = 0; off < whole; off += 64) compress(state, bytes + off);

    // The tail, the 0x80 marker, zeros and the length in bits fill one or two more blocks.
    std::array<std::uint8_t, 128> last{};
    const std::size_t rest = data.size() - whole;
    for (std::size_t i = 0; i < rest; ++i) last[i] = bytes[whole + i];
    last[rest] = 0x80;
    const std::size_t tailBlocks = rest < 56 ? 1 : 2;
    const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    for (int i = 0; i < 8; ++i) {
        last[tailBlocks * 64 - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    for (std::size_t blk = 0; blk < tailBlocks; ++blk) compress(state, last.data() + 64 * blk);

    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (const std::uint32_t word : state) {
        for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(kDigits[(word >> shift) & 0xF]);
    }
    return hex;
}

std::filesystem::path fixtureDir() {
    return std::filesystem::path(BRENVALE_FIXTURE_DIR);
}

std::optional<std::filesystem::path> fixture(std::string_view name) {
    std::filesystem::path p = fixtureDir() / std::filesystem::path(name);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) return std::nullopt;
    return p;
}

std::vector<ManifestRow> loadManifest(const std::filesystem::path& path) {
    const std::vector<std::string> lines = readLines(path);
    if (lines.front() != kManifestHeader) {
        malformed(path, 1,
                  "expected the header \"path<TAB>type<TAB>status<TAB>size<TAB>mtime<TAB>sha256\"");
    }
    std::vector<ManifestRow> rows;
    rows.reserve(lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t lineNo = i + 1;
        const auto f = splitTabs(lines[i]);
        if (f.size() != 6) {
            malformed(path, lineNo,
                      "expected 6 tab-separated fields, found " + std::to_string(f.size()));
        }
        ManifestRow row;
        row.path = f[0];
        row.type = f[1];
        row.status = f[2];
        row.sha256 = f[5];
        if (row.path.empty() || row.path.front() != '/') {
            malformed(path, lineNo, "path must start with \"/\": \"" + row.path + "\"");
        }
        if (row.type != "file" && row.type != "dir") {
            malformed(path, lineNo, "type must be file or dir, not \"" + row.type + "\"");
        }
        if (row.status != "live" && row.status != "deleted") {
            malformed(path, lineNo, "status must be live or deleted, not \"" + row.status + "\"");
        }
        if (!parseNumber(f[3], row.size)) {
            malformed(path, lineNo, "size is not a number of bytes: \"" + std::string(f[3]) + "\"");
        }
        if (!parseNumber(f[4], row.mtime)) {
            malformed(path, lineNo,
                      "mtime is not a number of seconds: \"" + std::string(f[4]) + "\"");
        }
        if (!row.sha256.empty() && (row.sha256.size() != 64 || !isLowerHex(row.sha256))) {
            malformed(path, lineNo, "sha256 must be empty or 64 lower-case hex digits");
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<LayoutRow> loadLayout(const std::filesystem::path& path) {
    const std::vector<std::string> lines = readLines(path);
    std::map<std::string_view, std::size_t> column;
    const auto header = splitTabs(lines.front());
    for (std::size_t i = 0; i < header.size(); ++i) column[header[i]] = i;
    for (const std::string_view required : {"index", "start", "sectors", "type", "fs"}) {
        if (!column.contains(required)) {
            malformed(path, 1, "header has no \"" + std::string(required) + "\" column");
        }
    }
    std::vector<LayoutRow> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t lineNo = i + 1;
        const auto f = splitTabs(lines[i]);
        if (f.size() != header.size()) {
            malformed(path, lineNo,
                      "expected " + std::to_string(header.size()) + " fields, found " +
                          std::to_string(f.size()));
        }
        auto field = [&](std::string_view name) -> std::string {
            const auto it = column.find(name);
            return it == column.end() ? std::string() : std::string(f[it->second]);
        };
        LayoutRow row;
        if (!parseNumber(field("index"), row.index) || !parseNumber(field("start"), row.start) ||
            !parseNumber(field("sectors"), row.sectors)) {
            malformed(path, lineNo, "index, start and sectors must be numbers");
        }
        row.type = field("type");
        row.name = field("name");
        row.guid = field("guid");
        row.fs = field("fs");
        if (row.type.empty() || row.fs.empty()) malformed(path, lineNo, "empty type or fs");
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string fileSha256Hex(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return sha256Hex(std::as_bytes(std::span(bytes)));
}

}  // namespace brenvale::test
