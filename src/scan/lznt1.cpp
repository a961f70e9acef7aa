#include "scan/lznt1.h"

#include <algorithm>

#include "storage/le.h"

namespace brenvale::scan {

namespace {

constexpr std::size_t kChunkOutput = 4096;

// One compressed chunk: tokens under flag bytes, literals and back-references whose length
// and offset split shifts with the position in the chunk.
void decodeChunk(std::span<const std::byte> in, std::vector<std::byte>& chunk) {
    std::size_t i = 0;
    while (i < in.size() && chunk.size() < kChunkOutput) {
        const auto flags = static_cast<std::uint8_t>(in[i++]);
        for (int bit = 0; bit < 8 && i < in.size() && chunk.size() < kChunkOutput; ++bit) {
            if (!(flags & (1u << bit))) {
                chunk.push_back(in[i++]);
                continue;
            }
            if (i + 2 > in.size()) return;
            const std::uint16_t token = storage::le16(in, i);
            i += 2;
            const std::size_t p = chunk.size();
            std::uint32_t mask = 0x0FFF;
            int shift = 12;
            for (std::size_t q = p - 1; p > 0 && q > 15; q >>= 1) {
                mask >>= 1;
                --shift;
            }
            const std::size_t length = (token & mask) + 3;
            const std::size_t offset = (std::size_t{token} >> shift) + 1;
            if (offset > p) return;  // points before the chunk: the chunk ends here
            for (std::size_t k = 0; k < length && chunk.size() < kChunkOutput; ++k) {
                chunk.push_back(chunk[chunk.size() - offset]);
            }
        }
    }
}

}  // namespace

void Lznt1DecodeUnit(std::span<const std::byte> unit, std::vector<std::byte>& out, std::size_t limit) {
    std::size_t at = 0;
    std::vector<std::byte> chunk;
    chunk.reserve(kChunkOutput);
    while (storage::fits(unit, at, 2) && out.size() < limit) {
        const std::uint16_t header = storage::le16(unit, at);
        if (header == 0) return;
        const std::size_t length = (header & 0x0FFFu) + 1;
        at += 2;
        if (!storage::fits(unit, at, length)) return;
        const auto data = unit.subspan(at, length);
        at += length;
        chunk.clear();
        if (header & 0x8000) {
            decodeChunk(data, chunk);
        } else {
            chunk.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(length, kChunkOutput)));
        }
        const std::size_t take = std::min(chunk.size(), limit - out.size());
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
        if (length == 1) return;
    }
}

}  // namespace brenvale::scan
