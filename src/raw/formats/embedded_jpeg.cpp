#include "raw/formats/embedded_jpeg.h"

#include <cstring>

#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

// The end of the stream that starts at `start` (just past FF D9), or 0 when it is not complete.
std::int64_t streamEnd(std::span<const std::byte> d, std::size_t start) {
    const auto* b = reinterpret_cast<const unsigned char*>(d.data());
    const std::size_t n = d.size();
    std::size_t p = start + 2;
    bool coded = false;
    while (p < n) {
        if (coded) {
            const void* ff = std::memchr(b + p, 0xFF, n - p);
            if (!ff) return 0;
            p = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - b);
            if (p + 1 >= n) return 0;
            const unsigned m = b[p + 1];
            if (m == 0x00 || (m >= 0xD0 && m <= 0xD8) || m == 0xFF) {
                p += m == 0xFF ? 1 : 2;
                continue;
            }
            coded = false;  // a marker: FF D9 ends below, any other continues the walk
        }
        if (b[p] != 0xFF) return 0;
        if (p + 1 >= n) return 0;
        const unsigned m = b[p + 1];
        if (m == 0xFF) {
            ++p;
        } else if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) {
            p += 2;
        } else if (m == 0xD9) {
            return static_cast<std::int64_t>(p + 2);
        } else {
            if (p + 4 > n) return 0;
            const std::size_t len = storage::be16(d, p + 2);
            if (len <= 1 || p + 2 + len > n) return 0;
            p += 2 + len;
            if (m == 0xDA) coded = true;
        }
    }
    return 0;
}

}  // namespace

std::optional<EmbeddedJpeg> LargestEmbeddedJpeg(std::span<const std::byte> data) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    // No stream can end past the last FF D9: candidates after it are not tried, and the
    // number tried is bounded, so bytes full of FF D8 cost a bounded number of walks.
    std::size_t lastEnd = 0;
    for (std::size_t i = data.size(); i >= 2; --i) {
        if (b[i - 2] == 0xFF && b[i - 1] == 0xD9) {
            lastEnd = i;
            break;
        }
    }
    constexpr int kMaxCandidates = 4096;
    int tried = 0;
    std::optional<EmbeddedJpeg> best;
    std::size_t at = 0;
    std::size_t skipUntil = 0;
    while (at + 1 < lastEnd && tried < kMaxCandidates) {
        const void* ff = std::memchr(b + at, 0xFF, lastEnd - 1 - at);
        if (!ff) break;
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - b);
        if (b[at + 1] == 0xD8 && at >= skipUntil) {
            ++tried;
            if (const std::int64_t end = streamEnd(data, at); end > 0) {
                const std::int64_t length = end - static_cast<std::int64_t>(at);
                if (!best || length > best->length) best = EmbeddedJpeg{static_cast<std::int64_t>(at), length};
                // A start inside this stream makes a shorter one: no need to measure it.
                skipUntil = static_cast<std::size_t>(end);
            }
        }
        ++at;
    }
    return best;
}

}  // namespace brenvale::raw::formats
