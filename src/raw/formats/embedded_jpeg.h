#pragma once
// The largest complete JPEG stream inside some bytes: camera files keep their preview that way.

#include <cstdint>
#include <optional>
#include <span>

namespace brenvale::raw::formats {

struct EmbeddedJpeg {
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

// Every FF D8 is a candidate start; from there the markers are followed to FF D9 (segments by
// their lengths, the coded data of a scan up to the next marker). The longest complete stream
// wins, the first of equals. One pass: a candidate that lies inside a stream already measured
// is not measured again.
std::optional<EmbeddedJpeg> LargestEmbeddedJpeg(std::span<const std::byte> data);

}  // namespace brenvale::raw::formats
